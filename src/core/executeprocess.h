#pragma once

#include <QString>

namespace tinsoke {

// What the tool runner needs from the program around it.
class ToolRunHost {
public:
    virtual ~ToolRunHost() = default;
    // Tells the user, in a modal box with one OK button, that a tool could not be started.
    virtual void reportStartFailure(const QString &message) = 0;
    // Handles the window's pending events while a tool runs.
    virtual void processPendingEvents() = 0;
};

// The text shown when a tool cannot be started: the system's error number.
QString startFailureMessage(unsigned long errorNumber);

// Runs one tool from its whole command line and returns when it has ended.
// Pending events are handled at least every 100 ms meanwhile, and the end is
// noticed at once. A tool that cannot be started is reported through the host;
// the tool's exit code and output are not looked at.
void RunExternalTool(const QString &commandLine, ToolRunHost &host);

} // namespace tinsoke
