#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace tinsoke {

// A run's record of the writes it has begun in the user's folders, kept in
// a folder of the run's own, so that a later start can put right what a
// kill cut short. Each write records what it is about to do before it
// begins and removes the record once it is done.
class WriteJournal {
public:
    explicit WriteJournal(QString folder)
        : m_folder(std::move(folder))
    {}
    const QString &folder() const { return m_folder; }

private:
    QString m_folder;
};

// One write's record: a file of the journal holding the write's kind and
// paths, synced before the write begins and removed when the record goes.
// Without a journal it records nothing.
class JournalRecord {
public:
    JournalRecord() = default;
    JournalRecord(const JournalRecord &) = delete;
    JournalRecord &operator=(const JournalRecord &) = delete;
    ~JournalRecord() { end(); }

    // kind: "beside" (fields: the hidden file made beside a user's file),
    // "inplace" (the user's file, the copy of its old bytes, the new size
    // and digest, its old modification time, its device and inode, the file
    // its new bytes come from).
    bool begin(const WriteJournal *journal, const QList<QByteArray> &fields, QString *error);
    // Where a copy of old bytes may go, in the journal's folder.
    static QByteArray sparePath(const WriteJournal &journal);
    void end();

private:
    QByteArray m_path;
    QByteArray m_folder;
};

// Puts right what the records in a dead run's journal folder say was cut
// short: hidden files beside the user's files are removed, and a file
// rewritten in place gets its old bytes back unless it holds the whole new
// content, is another file by now, or was changed since by someone else.
// Records are removed as they are carried out.
void recoverWrites(const QString &folder);

} // namespace tinsoke
