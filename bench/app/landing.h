// app_bench --landing: how long a paused seek takes to show every channel's picture of the place.
#pragma once

// Runs the mode (argv[2]: runs per recording, default 5); the process's exit status. Needs the
// QApplication made.
int pausedSeekLanding(int argc, char **argv);
