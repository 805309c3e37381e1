#pragma once

#include "privatefiles.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace tinsoke {

// The user's Trash as file managers share it: a Trash folder holds files/
// with the trashed copies and info/ with one NAME.trashinfo per copy, saying
// where it came from and when. A file on the home file system goes to
// $XDG_DATA_HOME/Trash (~/.local/share/Trash when the variable is unset or
// not absolute); a file on another file system goes to the top folder of
// that file system: $topdir/.Trash/$uid when an administrator made
// $topdir/.Trash a real folder with the sticky bit, else $topdir/.Trash-$uid.
// Every path is a full path; error, when given, receives a short reason on
// failure.

struct TrashFolder {
    QString path;        // the Trash folder itself, holding files/ and info/
    QString topDir;      // the file system's top folder; empty for the home Trash
    bool exists = false; // false: a put would make it first
};

// The Trash a replaced original at originalPath goes to. With create, a
// missing Trash folder and its files/ and info/ are made (0700); without it
// nothing is made and the answer is where the original would go. A folder
// that is a link, not a folder, or not ours is not used; when no Trash can
// be used, nullopt and the reason.
std::optional<TrashFolder> trashFolderFor(const QString &originalPath, bool create,
                                          QString *error = nullptr);

// One trashed copy: files/NAME and info/NAME.trashinfo in folder.
struct TrashEntry {
    QString folder;       // the Trash folder
    QString name;         // NAME, as the system's bytes go
    QString originalPath; // the full path the copy came from
    QDateTime deletedAt;  // local time, to the second

    QString filePath() const;
    QString infoPath() const;
};

// Puts a verified copy of the bytes of sourceOfBytes (the original itself,
// checked unchanged by the caller, or a copy of it) into the Trash for originalPath, under a name
// of its own: the info file is made first, exclusively, and the copy then takes the same name in
// files/, with the permission bits and modification time of originalPath, which itself is never
// touched. On failure (no Trash, no space, a size limit) nothing is left in the Trash and the
// reason is given. With a journal, a later start removes a half-written copy.
std::optional<TrashEntry> putCopyInTrash(const QString &originalPath, const QString &sourceOfBytes,
                                         const QDateTime &deletedAt, QString *error = nullptr,
                                         const WriteJournal *journal = nullptr);

// The text of an info file: recordedPath (bytes, absolute, or relative to
// the file system's top folder) percent-encoded, and the local time.
QByteArray trashInfoText(const QByteArray &recordedPath, const QDateTime &deletedAt);

// Reads an entry back from its info file (as a later start knows it).
std::optional<TrashEntry> readTrashEntry(const QString &infoPath, QString *error = nullptr);

// Removes the copy and then its info file; a copy already gone is no fault.
bool removeTrashEntry(const TrashEntry &entry, QString *error = nullptr);

enum class RestoreResult { Restored, ChangedMeanwhile, Failed };

// Puts the trashed bytes back into target (the file itself, links already
// resolved), which must still be exactly the file expected (what the run
// wrote): a file changed since is left alone and gives ChangedMeanwhile.
// The target keeps its owner, mode, links and modification time, as every
// replacement does. Once restored, the entry is removed from the Trash;
// should that fail, the result is still Restored and error says what is
// left there.
RestoreResult restoreFromTrash(const TrashEntry &entry, const QString &target,
                               const FileIdentity &expected, QString *error = nullptr);

} // namespace tinsoke
