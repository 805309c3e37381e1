#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace tinsoke {

// A command line taken apart the way Windows starts a program from one line
// of text, so the same line means the same thing on every system.
struct SplitCommandLine {
    QString program;
    QStringList arguments; // without the program itself
};

// The program is the text up to the closing quote when the line starts with
// one; otherwise the shortest run of blank-separated words that names an
// existing file (isFile decides), or the first word when none does. The rest
// is split into arguments: blanks separate, a double-quoted run is one piece
// without its quotes, an empty quoted run is an empty argument, and a quote
// preceded by backslashes follows the usual escaping rules.
SplitCommandLine splitCommandLine(const QString &line,
                                  const std::function<bool(const QString &)> &isFile);

QStringList splitArguments(const QString &text);

} // namespace tinsoke
