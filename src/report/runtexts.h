#pragma once

// The words the window and the command line use for what a run did.

#include "runreport.h"

#include <QString>

namespace tinsoke {

// A problem's reason as the user reads it; the report groups by these words.
QString reasonText(const RunProblem &problem);

// The problems grouped by reason, with counts, for one message at the end.
QString reportText(const RunSummary &summary);

// The same for a box whose details open on request: the grouped problems
// without the tools' words, and everything the tools printed, file by file.
struct SplitReport {
    QString summary;
    QString details;
};
SplitReport splitReport(const RunSummary &summary);
// That the run's temporary folder stayed, where it did; empty otherwise.
QString folderLeftText(const RunSummary &summary);

// The status bar's texts: "n / N 件" during a run; after it, the files
// done, the bytes before and after and the share saved.
QString runningStatus(int done, int total);
QString finishedStatus(const RunSummary &summary);
// A byte count for people: "35.4 MB".
QString formatBytes(qint64 bytes);

} // namespace tinsoke
