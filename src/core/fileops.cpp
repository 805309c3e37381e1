#include "fileops.h"

#include <QFile>
#include <QFileInfo>

namespace tinsoke {

bool entryExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
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

} // namespace tinsoke
