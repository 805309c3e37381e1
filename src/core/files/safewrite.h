#pragma once

#include "privatefiles.h"

#include <QByteArray>
#include <QString>

namespace tinsoke {

// Writing that is checked all the way to the disk. Every write, the flush and
// the sync are checked and the written size is compared before anything
// takes the place of the old file, so a full disk or a size limit leaves the
// old file byte-identical and no temporary file behind. All paths are full
// paths; error, when given, receives a short reason on failure.

// Writes bytes to path through a new file beside it (created exclusively,
// under a unique hidden name), renamed over path once it is whole; the folder
// is synced after the rename. A file already at path keeps its mode, owner
// and group (where permitted) and its extended attributes, ACLs included; a
// link at path is followed. A folder or a read-only file at path is not
// replaced, and neither is a file whose owner or group the new file could
// not carry.
bool writeFileVerified(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// Replaces the content of the regular file target (links already resolved by
// the caller; a link here is refused) by the content of the regular file
// source. The target keeps its mode, owner and group, extended attributes
// and ACLs, and its modification time (a file of another owner may get the
// time of the write: only its owner may set it). A target with one name gets
// a new file renamed over it when that file can be given the target's owner
// and group; a target with several hard links, or whose owner or group a new
// file could not carry, is rewritten in its own inode so that every name
// sees the new content, and its old bytes are written back if that fails
// half-way (and, through the journal, by a later start if a kill cuts it
// short). With a journal, the hidden file beside the target is recorded too.
//
// With check given and its expected set, the target must still be that very
// file, as it was (device, inode, size, modification and change time) when it
// is opened, and unchanged until the rename: another program's edit made
// meanwhile wins, the write is refused and changedMeanwhile says so. On
// success written is the file as this write left it.
struct WriteCheck {
    const FileIdentity *expected = nullptr;
    bool changedMeanwhile = false;
    FileIdentity written;
};
bool replaceFileContent(const QString &target, const QString &source, QString *error = nullptr,
                        WriteCheck *check = nullptr, const WriteJournal *journal = nullptr);

enum class CreateResult { Created, Taken, Failed };

// Creates a new file at target holding source's bytes. Anything already at
// target (a file, a folder, a link, even a dead one) gives Taken and is left
// alone. The new file gets the permission bits and modification time of the
// file keepFrom (the user's original; a link there is followed). On failure
// nothing is left; the copy is written whole under a hidden name first, and
// with a journal a later start removes that one should a kill cut it short.
// written, when given, receives the new file as this write left it.
CreateResult createFileVerified(const QString &target, const QString &source,
                                const QString &keepFrom, QString *error = nullptr,
                                const WriteJournal *journal = nullptr,
                                FileIdentity *written = nullptr);

// Reads the whole regular file at path (a link is followed) without ever
// blocking on a FIFO or device: anything but a regular file is refused.
bool readRegularFile(const QString &path, QByteArray *bytes, QString *error = nullptr);

} // namespace tinsoke
