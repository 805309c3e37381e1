#pragma once

#include "writejournal.h"

#include <QString>

#include <memory>
#include <utility>

namespace tinsoke {

// What the directory entry at a path says, the entry itself (a link is not followed).
struct FileIdentity {
    bool exists = false;
    bool regular = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0; // when the entry itself last changed, where the system tells

    static FileIdentity of(const QString &path);
    std::pair<quint64, quint64> key() const { return {device, inode}; }
    // Still the file read then: the same entry, size and both times. Any
    // write, rename, link or attribute change moves the change time, which no
    // program can set back, so an edit that keeps size and time shows too.
    bool sameAs(const FileIdentity &other) const
    {
        return exists && other.exists && regular == other.regular && key() == other.key() &&
               size == other.size && modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
};

// A listed file opened for a run: the file behind its name (links followed),
// checked to be a regular file that can be read. Opening never waits: a
// FIFO, socket or device that took the file's place is refused, not opened
// for reading.
class OpenedFile {
public:
    // A closed file and the reason, in the program's words, when it cannot be used.
    static OpenedFile open(const QString &path, QString *error);

    OpenedFile(OpenedFile &&other) noexcept;
    OpenedFile &operator=(OpenedFile &&) = delete;
    ~OpenedFile();

    bool isOpen() const { return m_fd >= 0; }
    const FileIdentity &identity() const { return m_identity; }
    // The file itself: where a listed link leads.
    const QString &realPath() const { return m_realPath; }
    // Copies the content as opened to a new private file.
    bool copyTo(const QString &target, QString *error) const;
    // The content's BLAKE2b-256 digest as opened; empty when it cannot be read.
    QByteArray digest() const;
    // Whether the file at the real path is still the one opened, as it was.
    bool unchangedOnDisk() const;

private:
    OpenedFile() = default;
    int m_fd = -1;
    FileIdentity m_identity;
    QString m_realPath;
};

// Removes a private folder and everything in it. A tool may have taken the
// permissions of its own parts away; as their owner we give them back first.
bool removePrivateFolder(const QString &path);

// Copies one private file to a new private file, checking every step.
bool copyPrivateFile(const QString &from, const QString &to, QString *error);

// The folder temporary files go to: TEMP, else TMPDIR, else the system's.
QString temporaryFolder();

// A run's own folder in the temporary folder: a unique name, mode 0700,
// removed with everything in it when the run ends. It holds a file "lock",
// locked while the run lives and naming its process, and the journal of the
// run's writes. Making one first clears what dead runs of this user left:
// their journals are carried out and their folders removed.
class RunFolder {
public:
    static std::unique_ptr<RunFolder> create(QString *error);
    ~RunFolder();

    // A new folder of one row's private files; empty, with the reason, on failure.
    QString makeRowFolder(int row, QString *error) const;
    // Null where writes keep no journal.
    const WriteJournal *journal() const { return m_journal.get(); }
    const QString &path() const { return m_path; }
    // Removes the folder now; false when something of it stays.
    bool remove();

private:
    explicit RunFolder(QString path)
        : m_path(std::move(path))
    {}
    QString m_path;
    int m_lock = -1;
    std::unique_ptr<WriteJournal> m_journal;
};

} // namespace tinsoke
