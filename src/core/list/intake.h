#pragma once

#include "filelistmodel.h"

#include <QString>
#include <QStringList>

namespace tinsoke {

// Appends the full path of every file in the folder and, depth first, in its
// sub-folders, each folder's entries in the order the system gives them,
// hidden ones included; a sub-folder's files stand where it was found.
// FIFOs, sockets and devices, and links to them, are passed over. The walk
// stays inside what was dropped: it follows no link to a folder, and lists a
// link to a file only when that file lies inside the folder; it never enters
// a folder already on the way down. Gives the number of links left out. A
// folder that cannot be read adds nothing.
int FindFiles(const QString &folder, QStringList &paths);

// What stands at a path, a link counting by its target (a dead link is a file
// that is told as missing when its turn comes).
enum class EntryType { Missing, File, Folder, Special };
EntryType entryType(const QString &path);

// The message telling how many links a walk left out.
QString linksPassedOverText(int count);

// Whether the path names a FIFO, a socket or a device (a link counts by its
// target): never a picture, and never to be opened.
bool isSpecialFile(const QString &path);

// Takes dropped files and folders into the list, in their order: a folder's
// files at the folder's place. The folder's own path is not offered: a folder
// is no image, whatever its name. What is dropped itself is taken, a link
// too; gives the number of links the folder walks left out.
int DropFiles(FileListModel &list, const QStringList &dropped);

} // namespace tinsoke
