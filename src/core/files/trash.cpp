#include "trash.h"

#include "paths.h"
#include "safewrite.h"

#include <QList>

// What every system shares: an entry's two names and the info file's text.

namespace tinsoke {

namespace {

const QByteArray InfoSuffix = QByteArrayLiteral(".trashinfo");
const QString DateFormat = QStringLiteral("yyyy-MM-dd'T'HH:mm:ss");

// The folder a relative Path= counts from: the file system's top folder for
// the Trash folders there, the folder holding the Trash for the home one.
QByteArray baseOfRelativePaths(const QByteArray &trashFolder)
{
    const QByteArray parent = trashFolder.left(trashFolder.lastIndexOf('/'));
    if (trashFolder.mid(trashFolder.lastIndexOf('/') + 1).startsWith(".Trash-"))
        return parent;
    if (parent.endsWith("/.Trash"))
        return parent.left(parent.lastIndexOf('/'));
    return parent;
}

} // namespace

QString TrashEntry::filePath() const
{
    return folder + QStringLiteral("/files/") + name;
}

QString TrashEntry::infoPath() const
{
    return folder + QStringLiteral("/info/") + name + QString::fromLatin1(InfoSuffix);
}

QByteArray trashInfoText(const QByteArray &recordedPath, const QDateTime &deletedAt)
{
    // "/" separates the path's parts and stays; every other byte but the
    // unreserved letters, digits and marks is escaped, non-UTF-8 bytes too.
    return QByteArrayLiteral("[Trash Info]\nPath=") + recordedPath.toPercentEncoding("/") +
           QByteArrayLiteral("\nDeletionDate=") +
           deletedAt.toLocalTime().toString(DateFormat).toLatin1() + '\n';
}

std::optional<TrashEntry> readTrashEntry(const QString &infoPath, QString *error)
{
    const auto bad = [error]() -> std::optional<TrashEntry> {
        if (error)
            *error = QStringLiteral("ごみ箱の記録が読めません");
        return std::nullopt;
    };
    const QByteArray path = bytesOfPath(infoPath);
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray infoName = path.mid(slash + 1);
    const QByteArray infoFolder = path.left(slash);
    if (slash < 0 || !infoName.endsWith(InfoSuffix) || infoName.size() == InfoSuffix.size() ||
        !infoFolder.endsWith("/info"))
        return bad();
    QByteArray text;
    if (!readRegularFile(infoPath, &text, error))
        return std::nullopt;
    TrashEntry entry;
    entry.folder = pathFromBytes(infoFolder.left(infoFolder.size() - 5));
    entry.name = pathFromBytes(infoName.left(infoName.size() - InfoSuffix.size()));
    bool inGroup = false;
    bool seenGroup = false;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith('[')) {
            inGroup = line == "[Trash Info]";
            seenGroup = seenGroup || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        if (line.startsWith("Path=") && entry.originalPath.isEmpty()) {
            QByteArray original = QByteArray::fromPercentEncoding(line.mid(5));
            if (original.split('/').contains(".."))
                return bad();
            if (!original.startsWith('/'))
                original = baseOfRelativePaths(bytesOfPath(entry.folder)) + '/' + original;
            entry.originalPath = pathFromBytes(original);
        } else if (line.startsWith("DeletionDate=") && !entry.deletedAt.isValid()) {
            entry.deletedAt = QDateTime::fromString(QString::fromLatin1(line.mid(13)), DateFormat);
        }
    }
    if (!seenGroup || entry.originalPath.isEmpty())
        return bad();
    return entry;
}

} // namespace tinsoke
