#pragma once

#include "executeprocess.h"
#include "tools.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>

namespace tinsoke {

class FileListModel;

// What a run takes from the pages once, before its first row.
struct ToolSetting {
    bool ticked = false;
    QString executable;
    QString options;
};
using RunSnapshot = std::array<ToolSetting, 8>; // in tool order

// What a run needs from the window around it. Save method and tool
// availability are asked for afresh at every row.
class BatchHost : public ToolRunHost {
public:
    virtual int saveMethod() = 0; // 0 in place, 1 a copy beside, 2 the result folder, -1 none
    virtual bool toolAvailable(Tool tool) = 0;
    virtual void showProgress(int minimum, int maximum, int position) = 0;
    // Tells the user once, at the end, which files were passed over and why.
    virtual void reportPassedOver(const QString &message) = 0;
    // Runs one tool to its end.
    virtual void runTool(const QString &commandLine) { RunExternalTool(commandLine, *this); }
};

// Optimizes every row of the list with the ticked tools of its chain, under
// the save method, and writes each tool's resulting size into the row.
// takeSnapshot is asked once, only when the list has rows.
void runBatch(FileListModel &list, BatchHost &host,
              const std::function<RunSnapshot()> &takeSnapshot);

// A free name for a tool's temporary output in the temporary folder: the
// local date and time as the user's locale writes them, without "/" and ":".
QString MakeTempPath();

// The folder temporary outputs go to: TEMP, else TMPDIR, else the system's.
QString temporaryFolder();

// What happened to a candidate result.
enum class KeepOutcome { NothingToDo, Replaced, CandidateDropped, ReplaceFailed };

// When the candidate is a valid image of its kind and strictly smaller, the
// working file takes its content, in one step, and the candidate is
// deleted; a larger, equal, empty or broken candidate is deleted and the
// working file stays as it was. Nothing happens unless both exist.
KeepOutcome KeepIfSmaller(const QString &workingPath, const QString &candidatePath, ImageKind kind,
                          QString *error = nullptr);

} // namespace tinsoke
