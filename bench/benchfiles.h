#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>

// A fresh copy of every file in from, in to; the copies' paths, by name.
inline QStringList copies(const QString &from, const QString &to)
{
    QDir(to).removeRecursively();
    QDir().mkpath(to);
    QStringList paths;
    for (const QString &name : QDir(from).entryList(QDir::Files, QDir::Name)) {
        QFile::copy(from + u'/' + name, to + u'/' + name);
        paths << to + u'/' + name;
    }
    return paths;
}
