#include "safewrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>

#include <windows.h>

// Verified writes through the Windows calls: every new content is written
// whole into a hidden file beside its target, every write and the flush to
// the disk (FlushFileBuffers) checked and the size compared, and only then
// does it take the target's place: ReplaceFileW over a file that is there,
// which keeps the replaced file's attributes, ACL and streams, MoveFileExW
// (write-through) where nothing is.

namespace tinsoke {

namespace {

bool fail(QString *error, const QString &what, DWORD code = 0)
{
    if (error)
        *error = code ? QStringLiteral("%1 (%2)").arg(what, qt_error_string(int(code))) : what;
    return false;
}

const wchar_t *wide(const QString &s)
{
    return reinterpret_cast<const wchar_t *>(s.utf16());
}

class Handle {
public:
    explicit Handle(HANDLE h)
        : m_h(h)
    {}
    ~Handle()
    {
        if (valid())
            ::CloseHandle(m_h);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE get() const { return m_h; }
    // Closes now, reporting what the close said.
    bool close()
    {
        const bool ok = ::CloseHandle(m_h) != 0;
        m_h = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE m_h;
};

// What the directory entry says of a file, a link not followed.
struct Entry {
    bool exists = false;
    DWORD attributes = 0;
    qint64 size = 0;
    FILETIME modified{};
};

Entry entryAt(const QString &nativePath)
{
    Entry e;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(wide(nativePath), GetFileExInfoStandard, &data))
        return e;
    e.exists = true;
    e.attributes = data.dwFileAttributes;
    e.size = qint64((quint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    e.modified = data.ftLastWriteTime;
    return e;
}

bool isPlainFile(const Entry &e)
{
    return e.exists && !(e.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

std::atomic<unsigned> hiddenCounter{0};

// Writes bytes into a new hidden file beside target, checked to the disk;
// gives its path, or an empty one with the reason. The new file gets the
// modification time keepTime when one is given.
QString writeBeside(const QString &target, const QByteArray &bytes, const FILETIME *keepTime,
                    QString *error)
{
    const QFileInfo info(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString hidden =
            QDir::toNativeSeparators(info.absolutePath() + QStringLiteral("/.%1.%2-%3.tinsoke")
                                                               .arg(info.fileName())
                                                               .arg(::GetCurrentProcessId())
                                                               .arg(hiddenCounter.fetch_add(1)));
        Handle file(::CreateFileW(wide(hidden), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (!file.valid()) {
            const DWORD code = ::GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
                continue;
            fail(error, QStringLiteral("一時ファイルを作成できません"), code);
            return QString();
        }
        const auto dropIt = [&](const QString &why, DWORD code) {
            fail(error, why, code);
            if (file.valid())
                file.close();
            ::DeleteFileW(wide(hidden));
            return QString();
        };
        qsizetype done = 0;
        while (done < bytes.size()) {
            const DWORD chunk = DWORD(qMin<qsizetype>(bytes.size() - done, 1 << 20));
            DWORD written = 0;
            if (!::WriteFile(file.get(), bytes.constData() + done, chunk, &written, nullptr))
                return dropIt(QStringLiteral("書き込めません"), ::GetLastError());
            if (written == 0)
                return dropIt(QStringLiteral("書き込めません（ディスクがいっぱいです）"), 0);
            done += written;
        }
        if (keepTime && !::SetFileTime(file.get(), nullptr, nullptr, keepTime))
            return dropIt(QStringLiteral("更新日時を設定できません"), ::GetLastError());
        if (!::FlushFileBuffers(file.get()))
            return dropIt(QStringLiteral("ディスクに書き出せません"), ::GetLastError());
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart != bytes.size())
            return dropIt(QStringLiteral("書き込んだ大きさが合いません"), 0);
        if (!file.close())
            return dropIt(QStringLiteral("書き込めません"), ::GetLastError());
        return hidden;
    }
    fail(error, QStringLiteral("一時ファイルを作成できません"));
    return QString();
}

// Puts the hidden file in target's place: over the file that is there, or
// where nothing is. It gets the attributes first (a replaced file's own, so
// they stay wherever the system's replace does not carry them), so it is
// hidden no more once it stands there. The hidden file is gone afterwards
// either way.
bool takePlace(const QString &hidden, const QString &nativeTarget, bool replacing, QString *error,
               DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    ::SetFileAttributesW(wide(hidden), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    const BOOL ok = replacing
                        ? ::ReplaceFileW(wide(nativeTarget), wide(hidden), nullptr,
                                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                        : ::MoveFileExW(wide(hidden), wide(nativeTarget), MOVEFILE_WRITE_THROUGH);
    if (ok)
        return true;
    const DWORD code = ::GetLastError();
    ::SetFileAttributesW(wide(hidden), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(wide(hidden));
    return fail(error, QStringLiteral("置き換えられません"), code);
}

bool readSource(const QString &path, QByteArray *bytes, QString *error)
{
    if (!isPlainFile(entryAt(QDir::toNativeSeparators(path))))
        return fail(error, QStringLiteral("通常のファイルではありません"));
    return readRegularFile(path, bytes, error);
}

} // namespace

bool readRegularFile(const QString &path, QByteArray *bytes, QString *error)
{
    if (!QFileInfo(path).isFile())
        return fail(error, QStringLiteral("通常のファイルではありません"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, file.errorString());
    const qint64 size = file.size();
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(error, file.errorString());
    if (data.size() != size)
        return fail(error, QStringLiteral("読み込み中にファイルが変わりました"));
    *bytes = std::move(data);
    return true;
}

bool writeFileVerified(const QString &path, const QByteArray &bytes, QString *error)
{
    const QFileInfo link(path);
    const QString real = link.isSymLink() ? link.symLinkTarget() : path;
    const QString native = QDir::toNativeSeparators(real);
    const Entry there = entryAt(native);
    if (there.exists && (there.attributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(error, QStringLiteral("フォルダがあります"));
    if (there.exists && (there.attributes & FILE_ATTRIBUTE_READONLY))
        return fail(error, QStringLiteral("読み取り専用のファイルです"));
    const QString hidden = writeBeside(real, bytes, nullptr, error);
    return !hidden.isEmpty() &&
           takePlace(hidden, native, there.exists, error, there.exists ? there.attributes : 0);
}

bool replaceFileContent(const QString &target, const QString &source, QString *error,
                        WriteCheck *check, const WriteJournal *)
{
    const QString native = QDir::toNativeSeparators(target);
    const Entry before = entryAt(native);
    if (!isPlainFile(before))
        return fail(error, QStringLiteral("通常のファイルではありません"));
    if (before.attributes & FILE_ATTRIBUTE_READONLY)
        return fail(error, QStringLiteral("読み取り専用のファイルです"));
    // Another program's change since the row began, or while the new content
    // was written, wins.
    const auto changedMeanwhile = [&] {
        if (!check || !check->expected || FileIdentity::of(target).sameAs(*check->expected))
            return false;
        check->changedMeanwhile = true;
        return !fail(error, QStringLiteral("処理中にほかのプログラムがファイルを変えました"));
    };
    if (changedMeanwhile())
        return false;
    QByteArray bytes;
    if (!readSource(source, &bytes, error))
        return false;
    const QString hidden = writeBeside(target, bytes, &before.modified, error);
    if (hidden.isEmpty())
        return false;
    if (changedMeanwhile()) {
        ::SetFileAttributesW(wide(hidden), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(wide(hidden));
        return false;
    }
    if (!takePlace(hidden, native, true, error, before.attributes))
        return false;
    if (check)
        check->written = FileIdentity::of(target);
    return true;
}

CreateResult createFileVerified(const QString &target, const QString &source,
                                const QString &keepFrom, QString *error, const WriteJournal *,
                                FileIdentity *written)
{
    const QString native = QDir::toNativeSeparators(target);
    const QFileInfo there(target);
    if (there.exists() || there.isSymLink())
        return CreateResult::Taken;
    QByteArray bytes;
    if (!readSource(source, &bytes, error))
        return CreateResult::Failed;
    const Entry original =
        entryAt(QDir::toNativeSeparators(QFileInfo(keepFrom).canonicalFilePath()));
    if (!original.exists)
        return fail(error, QStringLiteral("元のファイルの属性を読めません")), CreateResult::Failed;
    const QString hidden = writeBeside(target, bytes, &original.modified, error);
    if (hidden.isEmpty())
        return CreateResult::Failed;
    // Without MOVEFILE_REPLACE_EXISTING the move is the exclusive create: a
    // name taken meanwhile is left as it is.
    QString why;
    if (takePlace(hidden, native, false, &why,
                  original.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE))) {
        if (written)
            *written = FileIdentity::of(target);
        return CreateResult::Created;
    }
    if (QFileInfo::exists(target))
        return CreateResult::Taken;
    return fail(error, why), CreateResult::Failed;
}

} // namespace tinsoke
