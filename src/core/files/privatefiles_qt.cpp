// Private files for systems without the POSIX calls: the same rules through
// Qt's file classes; files are known by what Windows tells of them.
#include "privatefiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <windows.h>

namespace tinsoke {

namespace {

qint64 nanoseconds(const FILETIME &t)
{
    // 100 ns ticks since 1601 to ns since 1970.
    const qint64 ticks = qint64((quint64(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    return (ticks - 116444736000000000LL) * 100;
}

// A file is known by its volume's serial number and its file index, as a
// device and an inode know it elsewhere; the times to 100 ns.
FileIdentity identityOf(const QString &path)
{
    FileIdentity id;
    const QFileInfo info(path);
    id.exists = info.exists() || info.isSymLink();
    id.regular = info.isFile() && !info.isSymLink();
    const HANDLE file = ::CreateFileW(
        reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
        FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return id;
    BY_HANDLE_FILE_INFORMATION facts{};
    if (::GetFileInformationByHandle(file, &facts)) {
        id.device = facts.dwVolumeSerialNumber;
        id.inode = (quint64(facts.nFileIndexHigh) << 32) | facts.nFileIndexLow;
        id.size = qint64((quint64(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow);
        id.modifiedNs = nanoseconds(facts.ftLastWriteTime);
    }
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        FILETIME changed{DWORD(basic.ChangeTime.LowPart), DWORD(basic.ChangeTime.HighPart)};
        id.changedNs = nanoseconds(changed);
    }
    ::CloseHandle(file);
    return id;
}

bool copyNew(QFile &from, const QString &target, qint64 expected, QString *error)
{
    QFile to(target);
    if (!to.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = to.errorString();
        return false;
    }
    qint64 total = 0;
    while (!from.atEnd()) {
        const QByteArray chunk = from.read(1 << 16);
        if (chunk.isEmpty() || to.write(chunk) != chunk.size()) {
            *error = to.errorString();
            to.remove();
            return false;
        }
        total += chunk.size();
    }
    if (!to.flush() || (expected >= 0 && total != expected)) {
        *error = QStringLiteral("コピーの大きさが合いません");
        to.remove();
        return false;
    }
    return true;
}

} // namespace

FileIdentity FileIdentity::of(const QString &path)
{
    return identityOf(path);
}

OpenedFile OpenedFile::open(const QString &path, QString *error)
{
    OpenedFile file;
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("ファイルが見つかりません");
        return file;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("通常のファイルではありません");
        return file;
    }
    if (!info.isReadable()) {
        *error = QStringLiteral("ファイルを読み込めません（アクセスが拒否されました）");
        return file;
    }
    file.m_fd = 0;
    file.m_realPath = info.canonicalFilePath();
    file.m_identity = identityOf(file.m_realPath);
    return file;
}

OpenedFile::~OpenedFile() = default;

bool OpenedFile::copyTo(const QString &target, QString *error) const
{
    QFile from(m_realPath);
    if (!from.open(QIODevice::ReadOnly)) {
        *error = from.errorString();
        return false;
    }
    return copyNew(from, target, m_identity.size, error);
}

QByteArray OpenedFile::digest() const
{
    QFile from(m_realPath);
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    if (!from.open(QIODevice::ReadOnly) || !hash.addData(&from))
        return {};
    return hash.result();
}

bool OpenedFile::unchangedOnDisk() const
{
    const FileIdentity now = identityOf(m_realPath);
    return now.regular && now.size == m_identity.size && now.modifiedNs == m_identity.modifiedNs;
}

bool copyPrivateFile(const QString &from, const QString &to, QString *error)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = source.errorString();
        return false;
    }
    return copyNew(source, to, -1, error);
}

std::unique_ptr<RunFolder> RunFolder::create(QString *error)
{
    QTemporaryDir dir(temporaryFolder() + QStringLiteral("/pelmora-tinsoke-XXXXXX"));
    if (!dir.isValid()) {
        *error = QStringLiteral("一時フォルダを作成できません（%1）").arg(temporaryFolder());
        return nullptr;
    }
    dir.setAutoRemove(false);
    return std::unique_ptr<RunFolder>(new RunFolder(dir.path()));
}

QString RunFolder::makeRowFolder(int row, QString *error) const
{
    const QString path = m_path + u'/' + QString::number(row);
    if (!QDir().mkdir(path)) {
        *error = QStringLiteral("一時フォルダを作成できません（%1）").arg(path);
        return QString();
    }
    return path;
}

RunFolder::~RunFolder()
{
    remove();
}

bool RunFolder::remove()
{
    const bool removed = m_path.isEmpty() || removePrivateFolder(m_path);
    m_path.clear();
    return removed;
}

bool removePrivateFolder(const QString &path)
{
    return QDir(path).removeRecursively();
}

} // namespace tinsoke
