#pragma once

#include <QString>
#include <QStringList>

namespace tinsoke {

// Options typed into a tool's box, split once into arguments, the way a
// command line is split on every system alike: blanks separate, a
// double-quoted run is one piece without its quotes, an empty quoted run is
// an empty argument, and a quote preceded by backslashes follows the usual
// escaping rules.
QStringList splitArguments(const QString &text);

} // namespace tinsoke
