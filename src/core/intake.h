#pragma once

#include "lvdata.h"

#include <QString>
#include <QStringList>

namespace tinsoke {

class FileListModel;

// Only names ending in ".jpg", ".jpeg" or ".png", in any letter case, are listed.
bool isListableImage(const QString &path);
// The same, looking only at the last five characters: quick for many paths.
bool hasListableExtension(QStringView path);

// Appends the full path of every file in the folder and, depth first, in its
// sub-folders, each folder's entries in the order the system gives them,
// hidden ones included; a sub-folder's files stand where it was found.
// FIFOs, sockets and devices, and links to them, are passed over. Linked
// folders are followed, but never into a folder already on the way down, so
// a link back to an ancestor cannot make the walk go round for ever. A folder
// that cannot be read adds nothing.
void FindFiles(const QString &folder, QStringList &paths);

// Whether the path names a FIFO, a socket or a device (a link counts by its
// target): never a picture, and never to be opened.
bool isSpecialFile(const QString &path);

// Takes dropped files and folders into the list, in their order: a folder's
// files at the folder's place. The folder's own path is not offered: a folder
// is no image, whatever its name.
void DropFiles(FileListModel &list, const QStringList &dropped);

} // namespace tinsoke
