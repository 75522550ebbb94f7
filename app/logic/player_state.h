// The player state, shared by the application's features and the engine side. The
// values are the ones the rest of the player has always used (converting is 1, idle is 3).
#pragma once

constexpr int kPlayerStatePlaying = 0;
constexpr int kPlayerStateConverting = 1;
constexpr int kPlayerStateIdle = 3;

// What the video pane shows: one channel, or the grid.
constexpr int kCutStateSingle = 0;
constexpr int kCutStateGrid = 1;
