// The settings, colour and channel-selection panels open by unfolding over the bottom edge of the main
// window, centred across it: first a strip 6 points wide of full height, then widening to the right to the
// whole panel, moved inside the screen where that would put it off the screen. They close by
// folding back: the strip, then nothing.
#pragma once

#include <functional>

class QWidget;

// Shows `panel` in front with the keyboard focus and unfolds it against `mainWindow`.
void unfoldPanel(QWidget *panel, const QWidget *mainWindow);
// Folds `panel` away, hides it, gives the main window the focus again and restores the panel's
// full size for the next unfold; `done` runs at the end.
void foldPanel(QWidget *panel, QWidget *mainWindow, std::function<void()> done = {});

// Milliseconds of each of the two steps (0: at once, as in tests).
void setPanelFoldStepDuration(int milliseconds);
int panelFoldStepDuration();
