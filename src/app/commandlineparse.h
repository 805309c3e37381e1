#pragma once

// The program's command line as words: what they ask for, or the usage
// error they make, without reading or starting anything; and the text of a
// dry run. Tested without starting the program.

#include "runplan.h"

#include <QString>
#include <QStringList>

#include <optional>

struct CommandLineRequest {
    enum class Action { Help, Version, Run, Watch, Revert };
    Action action = Action::Run;
    QString text;                     // what --help and --version print
    QStringList paths;                // as given, in order
    std::optional<QString> filesFrom; // --files-from FILE, "-" standard input
    bool nullSeparated = false;
    bool dryRun = false;
    bool quiet = false;
    bool force = false;
    int jobs = -1;                           // -1: the settings file's
    std::optional<tinsoke::SaveMethod> save; // none: the settings file's
    std::optional<QString> settings;         // --settings FILE, else the usual one
};

struct CommandLineParse {
    std::optional<CommandLineRequest> request;
    QString usageError; // when there is no request
};

// words: the program's name, then its arguments.
CommandLineParse parseCommandLine(const QStringList &words);

// What --dry-run prints for the files: each with the tools its chain uses
// and the save method, then each tool's program and arguments, the private
// copies written as {コピー}.
QString dryRunText(const tinsoke::RunPlan &plan, const QStringList &files);
