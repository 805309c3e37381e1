#pragma once

// The real program, copied once per test process into a folder of its own.
// A started copy keeps its settings file beside itself, so the build's own
// program folder is left as the tests found it and its next start is a first
// start.

#include <QFile>
#include <QString>
#include <QTemporaryDir>

inline QString programCopy()
{
    static const QTemporaryDir folder;
    static const QString path = [] {
        const QString copy = folder.filePath(QStringLiteral("pelmora-tinsoke"));
        // QFile::copy keeps the execute bits.
        return QFile::copy(QStringLiteral(TINSOKE_PROGRAM), copy) ? copy : QString();
    }();
    return path;
}
