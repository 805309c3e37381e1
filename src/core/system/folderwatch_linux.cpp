#include "folderwatch.h"

#include "intake.h"
#include "paths.h"
#include "privatefiles.h"

#include <QDir>
#include <QSocketNotifier>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tinsoke {

namespace {

constexpr quint32 FolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                 IN_MODIFY | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF |
                                 IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

bool isUnder(const QString &path, const QString &folder)
{
    return path.size() > folder.size() && path.startsWith(folder) && path.at(folder.size()) == u'/';
}

QByteArray realPathOf(const QString &path)
{
    char *real = ::realpath(bytesOfPath(path).constData(), nullptr);
    const QByteArray result = real ? QByteArray(real) : QByteArray();
    std::free(real);
    return result;
}

// What stands at a path that is no regular file, in words; "リンク先" when a
// link leads to it.
QString whatItIs(const struct stat &st, bool link)
{
    const QString what = S_ISDIR(st.st_mode)    ? QStringLiteral("フォルダ")
                         : S_ISFIFO(st.st_mode) ? QStringLiteral("名前付きパイプ（FIFO）")
                         : S_ISSOCK(st.st_mode) ? QStringLiteral("ソケット")
                         : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)
                             ? QStringLiteral("デバイス")
                             : QStringLiteral("通常のファイルではないもの");
    return (link ? QStringLiteral("リンク先が") : QString()) + what +
           QStringLiteral("です。画像ではないので処理しません");
}

} // namespace

QString watchedFolderOf(const QString &folder)
{
    struct stat st {};
    const QByteArray name = bytesOfPath(folder);
    if (::lstat(name.constData(), &st) != 0)
        return QString();
    if (S_ISDIR(st.st_mode))
        return folder;
    if (!S_ISLNK(st.st_mode) || ::stat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QString();
    return pathFromBytes(realPathOf(folder));
}

bool isResultFolderName(const QString &name)
{
    return name.startsWith(ResultFolderName);
}

QStringList picturesBelow(const QString &folder)
{
    QStringList found;
    FindFiles(folder, found);
    found.removeIf([&folder](const QString &path) {
        return path.mid(folder.size()).contains(u'/' + ResultFolderName);
    });
    return found;
}

FolderWatch::FolderWatch(int settleMs, QObject *parent)
    : QObject(parent)
    , m_settleMs(settleMs)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FolderWatch::settled);
}

FolderWatch::~FolderWatch()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FolderWatch::open(int *error)
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        *error = errno;
        return false;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &FolderWatch::readEvents);
    return true;
}

void FolderWatch::watchTree(const QString &top)
{
    m_tops[top] = realPathOf(top);
    watchFolders(top);
}

void FolderWatch::watchFolders(const QString &top)
{
    QStringList todo{top};
    std::set<int> seen; // a folder met twice (a bind mount of its parent) is walked once
    QString firstUnwatched;
    int unwatched = 0;
    while (!todo.isEmpty()) {
        const QString folder = todo.takeLast();
        const int wd = ::inotify_add_watch(m_fd, bytesOfPath(folder).constData(), FolderEvents);
        if (wd < 0) {
            if (errno == ENOSPC || errno == ENOMEM) {
                if (unwatched++ == 0)
                    firstUnwatched = folder;
            } else if (errno != ENOENT) { // one that is gone already is not missed
                Q_EMIT cannotWatch(folder, errno);
            }
            continue;
        }
        if (!seen.insert(wd).second)
            continue;
        m_folders[wd] = folder;
        const QStringList subs = QDir(folder).entryList(
            QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks, QDir::Unsorted);
        for (const QString &sub : subs)
            if (!isResultFolderName(sub))
                todo.append(folder + u'/' + sub);
    }
    if (unwatched > 0)
        Q_EMIT limitReached(firstUnwatched, unwatched);
}

void FolderWatch::offerTree(const QString &folder)
{
    for (const QString &path : picturesBelow(folder))
        expect(path, true);
}

void FolderWatch::expect(const QString &path, bool complete)
{
    if (!complete) {
        m_writing.insert(path);
        m_complete.erase(path);
        return;
    }
    m_writing.erase(path);
    m_complete[path] = m_clock.elapsed() + m_settleMs;
    if (!m_timer.isActive())
        m_timer.start(m_settleMs);
}

void FolderWatch::forget(const QString &path, bool tell)
{
    m_writing.erase(path);
    if (m_complete.erase(path) > 0 && tell)
        Q_EMIT fileGone(path);
}

void FolderWatch::forgetTree(const QString &folder)
{
    for (auto it = m_folders.begin(); it != m_folders.end();) {
        if (it->second == folder || isUnder(it->second, folder)) {
            ::inotify_rm_watch(m_fd, it->first);
            it = m_folders.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_complete.begin(); it != m_complete.end();)
        it = isUnder(it->first, folder) ? m_complete.erase(it) : std::next(it);
    for (auto it = m_writing.begin(); it != m_writing.end();)
        it = isUnder(*it, folder) ? m_writing.erase(it) : std::next(it);
}

void FolderWatch::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    std::map<quint32, QString> movedOut; // folders moved away, by cookie, until their arrival
    bool overflow = false;
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {
                overflow = true;
                continue;
            }
            const auto folder = m_folders.find(e->wd);
            if (folder == m_folders.end())
                continue; // a watch let go whose last events still come
            const QString base = folder->second;
            if (e->mask & IN_IGNORED) {
                m_folders.erase(folder);
                continue;
            }
            if (e->mask & (IN_DELETE_SELF | IN_UNMOUNT)) {
                forgetTree(base);
                Q_EMIT folderGone(base);
                continue;
            }
            if (e->mask & IN_MOVE_SELF) {
                // A sub-folder's move is told by its parent's events; only a
                // watched tree's top has no watched parent.
                bool top = true;
                for (const auto &f : m_folders)
                    top = top && !isUnder(base, f.second);
                if (top) {
                    forgetTree(base);
                    Q_EMIT folderGone(base);
                }
                continue;
            }
            if (e->len == 0)
                continue;
            const QString name = pathFromBytes(QByteArray(e->name));
            const QString path = base + u'/' + name;
            if (e->mask & IN_ISDIR) {
                if (isResultFolderName(name))
                    continue;
                if (e->mask & IN_MOVED_FROM) {
                    forgetTree(path);
                    movedOut[e->cookie] = path;
                } else if (e->mask & IN_DELETE) {
                    const bool watched =
                        std::any_of(m_folders.begin(), m_folders.end(),
                                    [&path](const auto &f) { return f.second == path; });
                    forgetTree(path);
                    if (watched)
                        Q_EMIT folderGone(path);
                } else if (e->mask & (IN_CREATE | IN_MOVED_TO)) {
                    movedOut.erase(e->cookie);
                    watchFolders(path);
                    // What was put there before its watch began is offered now.
                    offerTree(path);
                }
                continue;
            }
            if (!hasListableExtension(name))
                continue;
            if (e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO))
                expect(path, true);
            else if (e->mask & IN_CREATE)
                // A file made whole and then linked in (a hard link, a
                // temporary file given its name) brings its bytes along and
                // tells no close; one opened to be written starts empty. A
                // link or a FIFO is complete as it is made.
                expect(path, FileIdentity::of(path).size > 0 || !isPlainFile(path));
            else if (e->mask & IN_MODIFY)
                expect(path, false);
            else if (e->mask & (IN_DELETE | IN_MOVED_FROM))
                forget(path, true);
        }
    }
    for (const auto &gone : movedOut)
        Q_EMIT folderGone(gone.second);
    if (overflow)
        Q_EMIT overflowed();
}

void FolderWatch::settled()
{
    const qint64 now = m_clock.elapsed();
    QStringList ready;
    qint64 next = -1;
    for (auto it = m_complete.begin(); it != m_complete.end();) {
        if (it->second <= now) {
            ready.append(it->first);
            it = m_complete.erase(it);
        } else {
            next = next < 0 ? it->second : std::min(next, it->second);
            ++it;
        }
    }
    if (next >= 0)
        m_timer.start(static_cast<int>(next - now));
    for (const QString &path : std::as_const(ready))
        judge(path);
}

bool FolderWatch::isPlainFile(const QString &path)
{
    struct stat st {};
    return ::lstat(bytesOfPath(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Only what the run would take is offered: a regular file, or a link to one
// that lies inside the watched tree, as a drop of the folder finds them.
void FolderWatch::judge(const QString &path)
{
    const QByteArray name = bytesOfPath(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        Q_EMIT fileGone(path);
        return;
    }
    const bool link = S_ISLNK(st.st_mode);
    if (link && ::stat(name.constData(), &st) != 0) {
        Q_EMIT fileReady(path); // a dead link: the row tells it is missing
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        Q_EMIT passedOver(path, whatItIs(st, link));
        return;
    }
    if (link) {
        const QByteArray real = realPathOf(path);
        bool inside = false;
        for (const auto &[top, root] : m_tops)
            inside = inside || ((path.startsWith(top + u'/') || top == u"/") && !root.isEmpty() &&
                                (root == "/" || real.startsWith(root + '/')));
        if (!inside) {
            Q_EMIT passedOver(path, QStringLiteral("監視しているフォルダの外を指すリンクなので"
                                                   "たどりません"));
            return;
        }
    }
    Q_EMIT fileReady(path);
}

} // namespace tinsoke
