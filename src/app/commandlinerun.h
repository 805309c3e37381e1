#pragma once

// The program without its window, for scripts: "pelmora-tinsoke --run PATH…"
// and the options around it. Runs on a QCoreApplication: no display, no
// window-system plugin, and no single-instance lock, so it can run while a
// window is open.

// Whether the arguments ask for the command-line mode: any option before
// "--" (--run, --help, --version, and every unknown or misplaced one).
bool wantsCommandLineMode(int argc, char *argv[]);

// Runs it and gives the exit code: 0 every file processed, 1 some file passed
// over or a tool that could not start, 2 bad usage or an unusable settings
// file, 128 + the signal's number when stopped by one (130 for Ctrl+C).
int runFromCommandLine(int argc, char *argv[]);
