#include "finishedfiles.h"

#include "fileops.h"
#include "paths.h"
#include "privatefiles.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

#include <sqlite3.h>

namespace tinsoke {

namespace {

// The layout of the memory file; a file of a later layout is left alone.
// Layout 2 added what an overwrite put into the Trash.
constexpr int Layout = 2;

// How long a run waits for another that holds the memory file.
constexpr int BusyMs = 5000;

const char *const Schema = "CREATE TABLE IF NOT EXISTS finished("
                           " digest BLOB NOT NULL, chain BLOB NOT NULL, used INTEGER NOT NULL,"
                           " PRIMARY KEY (digest, chain));"
                           "CREATE INDEX IF NOT EXISTS finished_used ON finished(used);"
                           "CREATE TABLE IF NOT EXISTS entries("
                           " device INTEGER NOT NULL, inode INTEGER NOT NULL,"
                           " size INTEGER NOT NULL, modified INTEGER NOT NULL,"
                           " changed INTEGER NOT NULL, digest BLOB NOT NULL, used INTEGER NOT NULL,"
                           " PRIMARY KEY (device, inode));"
                           "CREATE INDEX IF NOT EXISTS entries_used ON entries(used);";

// Each run that may overwrite, what each overwrite put into the Trash with
// the digest of what it wrote, and the files a revert gave back.
const char *const UndoSchema = "CREATE TABLE IF NOT EXISTS runs("
                               " id INTEGER PRIMARY KEY AUTOINCREMENT, started INTEGER NOT NULL);"
                               "CREATE TABLE IF NOT EXISTS undo("
                               " run INTEGER NOT NULL, path BLOB NOT NULL, trashed BLOB NOT NULL,"
                               " info BLOB NOT NULL, written BLOB NOT NULL,"
                               " original BLOB NOT NULL,"
                               " PRIMARY KEY (run, path));"
                               "CREATE INDEX IF NOT EXISTS undo_path ON undo(path);"
                               "CREATE TABLE IF NOT EXISTS reverted("
                               " device INTEGER NOT NULL, inode INTEGER NOT NULL,"
                               " size INTEGER NOT NULL, modified INTEGER NOT NULL,"
                               " changed INTEGER NOT NULL, PRIMARY KEY (device, inode));";

// A finished entry found again is marked used at most once a day: a re-run
// over a library then writes next to nothing.
constexpr qint64 UsedGrain = 24 * 60 * 60;

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

// One statement, finalized when it goes.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql)
    {
        m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return m_rc == SQLITE_OK; }
    int rc() const { return m_rc; }
    void bind(int at, const QByteArray &blob)
    {
        sqlite3_bind_blob(m_stmt, at, blob.constData(), static_cast<int>(blob.size()),
                          SQLITE_TRANSIENT);
    }
    void bind(int at, qint64 value) { sqlite3_bind_int64(m_stmt, at, value); }
    void bindKey(const StatKey &key)
    {
        // Device and inode numbers are stored as the same 64 bits, signed.
        bind(1, static_cast<qint64>(key.device));
        bind(2, static_cast<qint64>(key.inode));
        bind(3, key.size);
        bind(4, key.modifiedNs);
        bind(5, key.changedNs);
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step()
    {
        m_rc = sqlite3_step(m_stmt);
        return m_rc;
    }
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    QByteArray blob(int column) const
    {
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_stmt, column)),
                          sqlite3_column_bytes(m_stmt, column));
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3_stmt *m_stmt = nullptr;
    int m_rc = SQLITE_OK;
};

bool isDamaged(int rc)
{
    return (rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT;
}

} // namespace

FinishedFiles::FinishedFiles(const QString &path, int maxFinished)
    : m_path(path)
    , m_maxFinished(maxFinished)
{
    QMutexLocker lock(&m_mutex);
    if (!openLocked())
        closeLocked();
}

FinishedFiles::~FinishedFiles()
{
    flush();
    QMutexLocker lock(&m_mutex);
    closeLocked();
}

int FinishedFiles::runLocked(const char *sql)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    sqlite3_free(message);
    return rc;
}

bool FinishedFiles::execLocked(const char *sql)
{
    const int rc = runLocked(sql);
    if (rc != SQLITE_OK)
        failLocked(rc);
    return rc == SQLITE_OK;
}

int FinishedFiles::tryOpenLocked(bool *newer)
{
    const QByteArray path = bytesOfPath(m_path);
    int rc = sqlite3_open_v2(path.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                             nullptr);
    if (rc != SQLITE_OK)
        return rc;
    m_opened = FileIdentity::of(m_path);
    sqlite3_busy_timeout(m_db, BusyMs);
    qint64 layout = 0;
    {
        Statement version(m_db, "PRAGMA user_version");
        rc = version.ok() ? version.step() : version.rc();
        if (rc != SQLITE_ROW)
            return rc;
        layout = version.integer(0);
    } // done with before the journal mode may change
    if (layout > Layout) {
        *newer = true;
        return SQLITE_OK;
    }
    // WAL lets two runs share the file: readers never wait for a writer.
    if ((rc = runLocked("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;")) != SQLITE_OK)
        return rc;
    if (layout == Layout)
        return SQLITE_OK; // opening a memory in use writes nothing, so it waits for nobody
    // A new file, or one of the first layout: its tables in one transaction,
    // which waits for another run making them at the same moment.
    if ((rc = runLocked("BEGIN IMMEDIATE")) != SQLITE_OK)
        return rc;
    if ((rc = runLocked(Schema)) != SQLITE_OK || (rc = runLocked(UndoSchema)) != SQLITE_OK ||
        (rc = runLocked("PRAGMA user_version=2; COMMIT")) != SQLITE_OK)
        runLocked("ROLLBACK");
    return rc;
}

bool FinishedFiles::openLocked()
{
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath())) {
        failLocked(QStringLiteral("フォルダを作成できません"));
        return false;
    }
    // Another run making or switching the file can hold it for a moment in
    // ways SQLite's own wait does not cover: tried again for as long.
    QDeadlineTimer deadline(BusyMs);
    for (;;) {
        bool newer = false;
        const int rc = tryOpenLocked(&newer);
        if (newer) {
            closeLocked();
            m_problem = QStringLiteral("記憶ファイル %1 はこの版より新しい版のものです。"
                                       "使わずに処理を続けます。")
                            .arg(m_path);
            return false;
        }
        if (rc == SQLITE_OK)
            return true;
        closeLocked();
        if (((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) &&
            !deadline.hasExpired()) {
            QThread::msleep(20);
            continue;
        }
        failLocked(rc);
        return m_db != nullptr; // set aside and made anew, or not to be used
    }
}

bool FinishedFiles::renewLocked()
{
    closeLocked();
    m_renewed = true;
    // Kept under another name for whoever wants to look, unless another run
    // has put a new one there meanwhile.
    QString aside;
    if (FileIdentity::of(m_path).key() == m_opened.key()) {
        aside = m_path + QStringLiteral(".broken-") +
                QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QFile::remove(aside);
        if (!QFile::rename(m_path, aside)) {
            failLocked(QStringLiteral("壊れたファイルを別名にできません"));
            return false;
        }
        for (const char *suffix : {"-wal", "-shm"}) {
            QFile::remove(aside + QLatin1String(suffix));
            QFile::rename(m_path + QLatin1String(suffix), aside + QLatin1String(suffix));
        }
    }
    if (!openLocked())
        return false;
    if (!aside.isEmpty())
        m_problem = QStringLiteral("記憶ファイルが壊れていたため %1 として残し、新しく作りました。")
                        .arg(aside);
    return true;
}

void FinishedFiles::closeLocked()
{
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void FinishedFiles::failLocked(int rc)
{
    // A file SQLite calls malformed or no database is set aside and made anew;
    // one that is only locked or read-only is left as it is.
    if (isDamaged(rc) && !m_renewed && renewLocked())
        return;
    failLocked(QString::fromUtf8(sqlite3_errstr(rc)));
}

void FinishedFiles::failLocked(const QString &what)
{
    if (m_problem.isEmpty())
        m_problem = QStringLiteral("記憶ファイル %1 を使えません（%2）。使わずに処理を続けます。")
                        .arg(m_path, what);
    closeLocked();
}

bool FinishedFiles::knownByStat(const StatKey &key, const QByteArray &chain)
{
    QMutexLocker lock(&m_mutex);
    if (!m_db || chain.isEmpty())
        return false;
    Statement find(m_db, "SELECT e.digest, f.used FROM entries e JOIN finished f"
                         " ON f.digest = e.digest AND f.chain = ?6"
                         " WHERE e.device = ?1 AND e.inode = ?2 AND e.size = ?3"
                         " AND e.modified = ?4 AND e.changed = ?5");
    if (!find.ok()) {
        failLocked(find.rc());
        return false;
    }
    find.bindKey(key);
    find.bind(6, chain);
    const int rc = find.step();
    if (rc == SQLITE_ROW) {
        if (find.integer(1) < now() - UsedGrain)
            m_pending.push_back({find.blob(0), chain, {key}});
        return true;
    }
    if (rc != SQLITE_DONE)
        failLocked(rc);
    return false;
}

bool FinishedFiles::knownByDigest(const QByteArray &digest, const QByteArray &chain)
{
    QMutexLocker lock(&m_mutex);
    if (!m_db || chain.isEmpty() || digest.isEmpty())
        return false;
    Statement find(m_db, "SELECT 1 FROM finished WHERE digest = ?1 AND chain = ?2");
    if (!find.ok()) {
        failLocked(find.rc());
        return false;
    }
    find.bind(1, digest);
    find.bind(2, chain);
    const int rc = find.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        failLocked(rc);
    return rc == SQLITE_ROW;
}

void FinishedFiles::remember(const QByteArray &digest, const QByteArray &chain,
                             const std::vector<StatKey> &entries)
{
    QMutexLocker lock(&m_mutex);
    if (!m_db || chain.isEmpty() || digest.isEmpty())
        return;
    m_pending.push_back({digest, chain, entries});
    if (m_pending.size() >= 256)
        writePendingLocked();
}

void FinishedFiles::flush()
{
    QMutexLocker lock(&m_mutex);
    writePendingLocked();
    pruneLocked();
}

void FinishedFiles::writePendingLocked()
{
    if (!m_db || m_pending.empty())
        return;
    const std::vector<Pending> pending = std::move(m_pending);
    m_pending.clear();
    // IMMEDIATE takes the write lock at once, so a busy file waits here
    // (up to the timeout) rather than failing half-way.
    if (!execLocked("BEGIN IMMEDIATE"))
        return;
    {
        Statement finished(m_db, "INSERT INTO finished (digest, chain, used) VALUES (?1, ?2, ?3)"
                                 " ON CONFLICT (digest, chain) DO UPDATE SET used = ?3");
        Statement entry(m_db, "INSERT INTO entries (device, inode, size, modified, changed,"
                              " digest, used) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)"
                              " ON CONFLICT (device, inode) DO UPDATE SET size = ?3,"
                              " modified = ?4, changed = ?5, digest = ?6, used = ?7");
        if (!finished.ok() || !entry.ok()) {
            failLocked(finished.ok() ? entry.rc() : finished.rc());
            return;
        }
        const qint64 time = now();
        for (const Pending &p : pending) {
            finished.bind(1, p.digest);
            finished.bind(2, p.chain);
            finished.bind(3, time);
            if (finished.step() != SQLITE_DONE) {
                failLocked(finished.rc());
                return;
            }
            finished.reset();
            for (const StatKey &key : p.entries) {
                entry.bindKey(key);
                entry.bind(6, p.digest);
                entry.bind(7, time);
                if (entry.step() != SQLITE_DONE) {
                    failLocked(entry.rc());
                    return;
                }
                entry.reset();
            }
        }
    }
    execLocked("COMMIT");
}

void FinishedFiles::pruneLocked()
{
    if (!m_db)
        return;
    const auto prune = [this](const char *count, const char *remove, qint64 limit) {
        Statement counted(m_db, count);
        if (!counted.ok() || counted.step() != SQLITE_ROW || counted.integer(0) <= limit)
            return;
        Statement removed(m_db, remove);
        if (!removed.ok())
            return;
        removed.bind(1, counted.integer(0) - limit);
        removed.step();
    };
    prune("SELECT count(*) FROM finished",
          "DELETE FROM finished WHERE rowid IN"
          " (SELECT rowid FROM finished ORDER BY used LIMIT ?1)",
          m_maxFinished);
    // Only the last run is undone as a whole; a file's own way back stays.
    Statement runs(m_db, "DELETE FROM runs WHERE id < (SELECT max(id) FROM runs) - 1000");
    if (runs.ok())
        runs.step();
    prune("SELECT count(*) FROM entries",
          "DELETE FROM entries WHERE rowid IN (SELECT rowid FROM entries ORDER BY used LIMIT ?1)",
          2 * qint64(m_maxFinished));
}

qint64 FinishedFiles::newRun()
{
    QMutexLocker lock(&m_mutex);
    if (!m_db)
        return 0;
    Statement add(m_db, "INSERT INTO runs (started) VALUES (?1)");
    if (!add.ok()) {
        failLocked(add.rc());
        return 0;
    }
    add.bind(1, now());
    if (add.step() != SQLITE_DONE) {
        failLocked(add.rc());
        return 0;
    }
    return sqlite3_last_insert_rowid(m_db);
}

bool FinishedFiles::rememberUndo(const UndoRecord &record)
{
    QMutexLocker lock(&m_mutex);
    if (!m_db || record.run == 0)
        return false;
    // Written at once: a kill right after must still leave the way back.
    Statement add(m_db, "INSERT INTO undo (run, path, trashed, info, written, original)"
                        " VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT (run, path) DO UPDATE"
                        " SET trashed = ?3, info = ?4, written = ?5, original = ?6");
    if (!add.ok()) {
        failLocked(add.rc());
        return false;
    }
    add.bind(1, record.run);
    add.bind(2, bytesOfPath(record.path));
    add.bind(3, bytesOfPath(record.trashedFile));
    add.bind(4, bytesOfPath(record.infoFile));
    add.bind(5, record.written);
    add.bind(6, record.original);
    if (add.step() != SQLITE_DONE) {
        failLocked(add.rc());
        return false;
    }
    return true;
}

std::vector<UndoRecord> FinishedFiles::undoRecords(const QStringList &paths)
{
    QMutexLocker lock(&m_mutex);
    std::vector<UndoRecord> records;
    if (!m_db)
        return records;
    // The last run's, or each named file's latest.
    Statement find(m_db, paths.isEmpty()
                             ? "SELECT run, path, trashed, info, written, original FROM undo"
                               " WHERE run = (SELECT max(id) FROM runs) ORDER BY path"
                             : "SELECT run, path, trashed, info, written, original FROM undo"
                               " WHERE path = ?1 ORDER BY run DESC LIMIT 1");
    if (!find.ok()) {
        failLocked(find.rc());
        return records;
    }
    const auto take = [&] {
        int rc;
        while ((rc = find.step()) == SQLITE_ROW)
            records.push_back({find.integer(0), pathFromBytes(find.blob(1)),
                               pathFromBytes(find.blob(2)), pathFromBytes(find.blob(3)),
                               find.blob(4), find.blob(5)});
        if (rc != SQLITE_DONE)
            failLocked(rc);
        return rc == SQLITE_DONE;
    };
    if (paths.isEmpty()) {
        take();
        return records;
    }
    for (const QString &path : paths) {
        find.bind(1, bytesOfPath(path));
        if (!take())
            break;
        find.reset();
    }
    return records;
}

void FinishedFiles::forgetUndo(const UndoRecord &record, const StatKey *reverted)
{
    QMutexLocker lock(&m_mutex);
    if (!m_db || !execLocked("BEGIN IMMEDIATE"))
        return;
    Statement drop(m_db, "DELETE FROM undo WHERE run = ?1 AND path = ?2");
    Statement mark(m_db, "INSERT INTO reverted (device, inode, size, modified, changed)"
                         " VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (device, inode) DO UPDATE"
                         " SET size = ?3, modified = ?4, changed = ?5");
    // What the memory knew of the file it held before is no longer so.
    Statement unknown(m_db, "DELETE FROM entries WHERE device = ?1 AND inode = ?2");
    if (!drop.ok() || !mark.ok() || !unknown.ok()) {
        failLocked(!drop.ok() ? drop.rc() : !mark.ok() ? mark.rc() : unknown.rc());
        return;
    }
    drop.bind(1, record.run);
    drop.bind(2, bytesOfPath(record.path));
    if (drop.step() != SQLITE_DONE) {
        failLocked(drop.rc());
        return;
    }
    if (reverted) {
        mark.bindKey(*reverted);
        unknown.bindKey(*reverted);
        if (mark.step() != SQLITE_DONE || unknown.step() != SQLITE_DONE) {
            failLocked(mark.rc() != SQLITE_DONE ? mark.rc() : unknown.rc());
            return;
        }
    }
    execLocked("COMMIT");
}

bool FinishedFiles::wasReverted(const StatKey &key)
{
    QMutexLocker lock(&m_mutex);
    if (!m_db)
        return false;
    Statement find(m_db, "SELECT 1 FROM reverted WHERE device = ?1 AND inode = ?2"
                         " AND size = ?3 AND modified = ?4 AND changed = ?5");
    if (!find.ok()) {
        failLocked(find.rc());
        return false;
    }
    find.bindKey(key);
    const int rc = find.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        failLocked(rc);
    return rc == SQLITE_ROW;
}

QString FinishedFiles::takeProblem()
{
    QMutexLocker lock(&m_mutex);
    if (m_told || m_problem.isEmpty())
        return {};
    m_told = true;
    return m_problem;
}

QString finishedFilesPath(const QString &settingsPath)
{
    if (QFileInfo(settingsPath).absoluteFilePath() !=
        QFileInfo(userSettingsFilePath()).absoluteFilePath())
        return replaceExtension(QFileInfo(settingsPath).absoluteFilePath(),
                                QStringLiteral(".finished.db"));
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/pelmora-tinsoke/finished.db");
}

} // namespace tinsoke
