#pragma once

#include <QString>
#include <QStringView>

namespace tinsoke {

// The text without the blanks and control characters (up to U+0020) at its ends.
QStringView trimmedOfControls(QStringView text);

// The text with the letters a to z made capitals; no other character changes.
QString foldAsciiLetters(QString text);

} // namespace tinsoke
