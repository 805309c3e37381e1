#pragma once

// How the command line writes what it did: the same lines for a run and a
// watch, paths as the very bytes the system gave them.

#include "runreport.h"

#include <QString>

#include <cstdio>

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
