#include "fileops.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tinsoke {

namespace {

constexpr qint64 ChunkSize = 1 << 20;

bool copyBytes(QFile &from, QFileDevice &to)
{
    while (!from.atEnd()) {
        const QByteArray chunk = from.read(ChunkSize);
        if (chunk.isEmpty() && from.error() != QFileDevice::NoError)
            return false;
        if (to.write(chunk) != chunk.size())
            return false;
    }
    return from.error() == QFileDevice::NoError;
}

} // namespace

bool entryExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

CopyResult copyToNewFile(const QString &source, const QString &target, QString *error)
{
    QFile from(source);
    if (!from.open(QIODevice::ReadOnly)) {
        if (error)
            *error = from.errorString();
        return CopyResult::Failed;
    }
    QFile to(target);
    if (!to.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (entryExists(target))
            return CopyResult::TargetTaken;
        if (error)
            *error = to.errorString();
        return CopyResult::Failed;
    }
    const bool copied = copyBytes(from, to) && to.flush();
    if (!copied) {
        if (error)
            *error = to.error() != QFileDevice::NoError ? to.errorString() : from.errorString();
        to.close();
        to.remove();
        return CopyResult::Failed;
    }
    to.setPermissions(from.permissions());
    to.setFileTime(from.fileTime(QFileDevice::FileModificationTime),
                   QFileDevice::FileModificationTime);
    return CopyResult::Copied;
}

bool looksLikeImage(const QString &path, ImageKind kind)
{
    static const QByteArray Png("\x89PNG\r\n\x1a\n", 8);
    static const QByteArray Jpeg("\xFF\xD8\xFF", 3);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    if (kind == ImageKind::Jpeg) {
        if (f.read(Jpeg.size()) != Jpeg || f.size() < 4 || !f.seek(f.size() - 2))
            return false;
        return f.read(2) == QByteArray("\xFF\xD9", 2);
    }
    if (f.read(Png.size()) != Png)
        return false;
    // Chunks: 4-byte length, 4-byte type, data, 4-byte check; the last is IEND.
    qint64 at = Png.size();
    for (;;) {
        if (!f.seek(at))
            return false;
        const QByteArray head = f.read(8);
        if (head.size() != 8)
            return false;
        const quint32 length = (quint32(uchar(head[0])) << 24) | (quint32(uchar(head[1])) << 16) |
                               (quint32(uchar(head[2])) << 8) | quint32(uchar(head[3]));
        at += 12 + qint64(length);
        if (at > f.size())
            return false;
        if (head.mid(4) == "IEND")
            return true;
    }
}

bool replaceContent(const QString &workingPath, const QString &candidatePath, QString *error)
{
    QFile from(candidatePath);
    QSaveFile to(workingPath); // writes beside the working file, renamed over it on commit
    if (!from.open(QIODevice::ReadOnly) || !to.open(QIODevice::WriteOnly)) {
        if (error)
            *error = from.isOpen() ? to.errorString() : from.errorString();
        return false;
    }
    if (!copyBytes(from, to)) {
        if (error)
            *error = to.errorString();
        to.cancelWriting();
        return false;
    }
    if (!to.commit()) {
        if (error)
            *error = to.errorString();
        return false;
    }
    return true;
}

} // namespace tinsoke
