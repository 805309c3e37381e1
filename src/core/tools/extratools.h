#pragma once

#include "ini.h"
#include "tools.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace tinsoke {

// A tool of the user's own: any optimizer, named by its program and an
// argument line in which {in} stands for the file to read and {out} for the
// file to write. Without {out} it rewrites {in} in place. It runs after the
// built-in tools of its kind, through the same check as they do.
struct ExtraTool {
    bool use = true;
    QString name;
    ImageKind kind = ImageKind::Png;
    QString path;
    QString args;

    bool operator==(const ExtraTool &o) const
    {
        return use == o.use && name == o.name && kind == o.kind && path == o.path && args == o.args;
    }
};

// The settings file's sections [ExtraTool1], [ExtraTool2] …, read until the
// first missing number. A section that cannot be used (no name, no program,
// a kind that is neither PNG nor JPEG, an argument line that does not split)
// is kept in the list but not used; a ticked one is told in notes.
QList<ExtraTool> readExtraTools(const IniDocument &document, QStringList *notes = nullptr);

// Writes the tools as sections 1 to n and takes out any numbered one after.
void writeExtraTools(IniDocument &document, const QList<ExtraTool> &tools);

// An argument line split once, as a POSIX shell splits words: blanks
// separate, single quotes keep everything, double quotes keep everything
// but a backslash before a quote, a backslash, a dollar or a backquote, and
// a backslash outside them keeps the next character; nothing is expanded.
// False, with a reason, when a quote is left open.
bool splitShellWords(const QString &line, QStringList *words, QString *error = nullptr);

// The words with {in} and {out} replaced wherever they stand in a word.
QStringList extraToolArguments(const QStringList &words, const QString &input,
                               const QString &output);

// Whether the tool writes a second file, {out}, rather than rewriting {in}.
bool writesSecondFile(const QStringList &words);

// Why the tool cannot run as it stands, or empty when it can.
QString extraToolProblem(const ExtraTool &tool);

// Ready tools for the optimizers found by findProgram (given a program's
// file name, its full path or empty): only those present are offered.
QList<ExtraTool> extraToolPresets(const std::function<QString(const QString &)> &findProgram);

} // namespace tinsoke
