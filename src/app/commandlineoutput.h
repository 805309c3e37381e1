#pragma once

// How the command line writes what it did, and what a run and a watch share
// around the engine: the same lines, paths as the very bytes the system gave
// them.

#include "runreport.h"

#include <QString>

#include <cstdio>

namespace tinsoke {
class FinishedFiles;
class RunEngine;
class StopSignals;
} // namespace tinsoke

// Writes the text as it is; a path in it keeps its own bytes.
void print(FILE *stream, const QString &text);
// A path as one field of a line: tabs, line ends and backslashes escaped.
QString field(const QString &path);
// The change in size, as "-12.3%".
QString change(qint64 before, qint64 after);
// A finished file's line: path, bytes before and after, change, the tools
// whose result was kept ("=" known finished, "-" none) and where it went.
QString resultLine(const QString &path, const tinsoke::RowResult &row);
// A problem as "path: reason", with what the tool printed indented below.
QString problemText(const tinsoke::RunProblem &problem);
// A problem of the program's own, on stderr after its name.
void tell(const QString &text);
// What went wrong with the memory, told once; the run goes on without it.
void tellMemoryProblem(tinsoke::FinishedFiles &memory);
// SIGINT, SIGTERM and SIGHUP stop the engine; the first one's number is kept
// for the exit code.
void stopOnSignals(tinsoke::StopSignals &signals, tinsoke::RunEngine &engine, int *stoppedBy);
