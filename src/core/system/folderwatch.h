#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <map>
#include <memory>
#include <set>

class QSocketNotifier;

namespace tinsoke {

// Watches folder trees for pictures that arrive or change, through the
// system's file events (no polling: idle, it costs nothing). A picture is
// offered once it is complete — written and closed, or moved in — and has
// stayed so for the settle time; sub-folders made later are watched too.
// Result folders are never watched, so a run's own copies start nothing.
// Lives on the thread whose event loop drives it.
class FolderWatch : public QObject {
    Q_OBJECT

public:
    explicit FolderWatch(int settleMs, QObject *parent = nullptr);
    ~FolderWatch() override;

    // Whether the system's file events can be had; when not, why (errno).
    bool open(int *error);
    // Watches the folder and every folder below it; pictures already there are
    // not offered (the caller runs over them). A link to a file below it is
    // offered only when the file lies inside the folder; links to folders are
    // never followed.
    void watchTree(const QString &folder);

Q_SIGNALS:
    void fileReady(const QString &path);
    // A picture that arrived and was removed or moved away before its turn.
    void fileGone(const QString &path);
    // A watched folder that was removed, renamed or moved out of the tree.
    void folderGone(const QString &path);
    // The system's limit of watches was reached: these folders go unwatched.
    void limitReached(const QString &folder, int unwatched);
    // A folder that cannot be watched for another reason (errno).
    void cannotWatch(const QString &folder, int error);
    // A name that arrived with a picture's name but is not one to take: a
    // link leading out of the folder, a FIFO, a device; reason says which.
    void passedOver(const QString &path, const QString &reason);
    // Events were lost (the system's queue overflowed): look at the trees again.
    void overflowed();

private:
    void watchFolders(const QString &top);
    void readEvents();
    void settled();
    void judge(const QString &path);
    static bool isPlainFile(const QString &path);
    void expect(const QString &path, bool complete);
    void forget(const QString &path, bool tell);
    void forgetTree(const QString &folder);
    void offerTree(const QString &folder);

    int m_fd = -1;
    int m_settleMs;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::map<int, QString> m_folders;     // watch descriptor → folder
    std::map<QString, QByteArray> m_tops; // a watched tree's top → its real path
    std::map<QString, qint64> m_complete; // picture → when it may be offered (ms)
    std::set<QString> m_writing;          // pictures open for writing
    QElapsedTimer m_clock;
    QTimer m_timer;
};

// Where a folder named to be watched leads: itself, or the folder a link of
// that name points to (read once: the link may change later, the watch does
// not follow it). Empty when there is no folder there.
QString watchedFolderOf(const QString &folder);

// Whether a folder is one of the run's result folders, whose pictures are
// the run's own copies.
bool isResultFolderName(const QString &name);
// The pictures below a folder, as a drop of it finds them, but for those in
// result folders.
QStringList picturesBelow(const QString &folder);

} // namespace tinsoke
