// engine_bench --pacing: how closely the DV engine spaces a channel's pictures by their time stamps.
#pragma once

// Runs the mode (argv[2]: rounds, default 7, at least 5); the process's exit status.
int dvPacing(int argc, char **argv);
