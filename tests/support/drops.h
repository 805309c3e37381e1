#pragma once

// Drops local files onto a widget the way a file manager does: the drag
// enters, then the files are dropped.

#include "paths.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QStringList>
#include <QUrl>
#include <QWidget>

inline void dropFiles(QWidget *target, const QStringList &paths)
{
    QMimeData mime;
    QList<QUrl> urls;
    // As a file manager sends them: each byte of the name, percent-encoded
    // (Windows: as Explorer does, the drive letter and all).
    for (const QString &p : paths)
#ifdef Q_OS_WIN
        urls.append(QUrl::fromLocalFile(p));
#else
        urls.append(QUrl::fromEncoded("file://" + tinsoke::bytesOfPath(p).toPercentEncoding("/")));
#endif
    mime.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}
