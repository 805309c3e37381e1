#include "safewrite.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

// The portable way, for systems without the POSIX calls. QSaveFile's commit
// alone may report success after its last flush failed, so the flush and the
// written size are checked before it is asked to commit.

namespace tinsoke {

namespace {

bool fail(QString *error, const QString &what)
{
    if (error)
        *error = what;
    return false;
}

bool readSource(const QString &path, QByteArray *bytes, QString *error)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile())
        return fail(error, QStringLiteral("通常のファイルではありません"));
    return readRegularFile(path, bytes, error);
}

bool saveThrough(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush() ||
        file.error() != QFileDevice::NoError) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(error, why);
    }
    if (file.size() != bytes.size()) {
        file.cancelWriting();
        return fail(error, QStringLiteral("書き込んだ大きさが合いません"));
    }
    return file.commit() || fail(error, file.errorString());
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
    return saveThrough(path, bytes, error);
}

bool replaceFileContent(const QString &target, const QString &source, QString *error,
                        WriteCheck *check, const WriteJournal *)
{
    QByteArray bytes;
    if (!readSource(source, &bytes, error))
        return false;
    QFile old(target);
    if (!old.open(QIODevice::ReadOnly))
        return fail(error, old.errorString());
    const QDateTime modified = old.fileTime(QFileDevice::FileModificationTime);
    old.close();
    if (!saveThrough(target, bytes, error))
        return false;
    QFile written(target);
    if (written.open(QIODevice::ReadWrite))
        written.setFileTime(modified, QFileDevice::FileModificationTime);
    written.close();
    if (check)
        check->written = FileIdentity::of(target);
    return true;
}

CreateResult createFileVerified(const QString &target, const QString &source,
                                const QString &keepFrom, QString *error, const WriteJournal *,
                                FileIdentity *written)
{
    QByteArray bytes;
    if (!readSource(source, &bytes, error))
        return CreateResult::Failed;
    const QFileInfo original(keepFrom);
    if (!original.exists())
        return fail(error, QStringLiteral("元のファイルの属性を読めません")), CreateResult::Failed;
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        const QFileInfo there(target);
        if (there.exists() || there.isSymLink())
            return CreateResult::Taken;
        return fail(error, file.errorString()), CreateResult::Failed;
    }
    const bool ok = file.write(bytes) == bytes.size() && file.flush() &&
                    file.error() == QFileDevice::NoError && file.size() == bytes.size() &&
                    file.setFileTime(original.lastModified(), QFileDevice::FileModificationTime);
    if (!ok) {
        fail(error, file.error() != QFileDevice::NoError
                        ? file.errorString()
                        : QStringLiteral("書き込んだ大きさが合いません"));
        file.close();
        file.remove();
        return CreateResult::Failed;
    }
    file.close();
    file.setPermissions(original.permissions());
    if (written)
        *written = FileIdentity::of(target);
    return CreateResult::Created;
}

} // namespace tinsoke
