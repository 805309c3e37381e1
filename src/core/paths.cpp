#include "paths.h"

#include <QFileInfo>

namespace tinsoke {

namespace {

// Characters that end a folder part of a path. Windows also knows the drive colon.
bool isSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/' || c == u':';
#else
    return c == u'/';
#endif
}

// Index of the extension's dot, or -1.
qsizetype extensionStart(const QString &path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        const QChar c = path.at(i);
        if (c == u'.')
            return i;
        if (isSeparator(c))
            break;
    }
    return -1;
}

} // namespace

QString fileExtension(const QString &path)
{
    const qsizetype dot = extensionStart(path);
    return dot < 0 ? QString() : path.mid(dot);
}

QString fileNameOf(const QString &path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (isSeparator(path.at(i)))
            return path.mid(i + 1);
    }
    return path;
}

QString folderOf(const QString &path)
{
    return path.left(path.size() - fileNameOf(path).size());
}

QString withUnderscoreBeforeExtension(const QString &path)
{
    const qsizetype dot = extensionStart(path);
    return dot < 0 ? path + u'_' : path.left(dot) + u'_' + path.mid(dot);
}

QString replaceExtension(const QString &path, const QString &newExtension)
{
    const qsizetype dot = extensionStart(path);
    return (dot < 0 ? path : path.left(dot)) + newExtension;
}

QString settingsFilePathFor(const QString &executablePath)
{
    return replaceExtension(executablePath, QStringLiteral(".ini"));
}

bool isDroppableExecutable(const QString &path)
{
    if (fileExtension(path).toLower() == u".exe")
        return true;
#ifdef Q_OS_WIN
    return false;
#else
    const QFileInfo info(path);
    return info.isFile() &&
           (info.permissions() & (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
#endif
}

bool namesExistingFile(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.exists() && !info.isDir();
}

QString executableFileFilter()
{
#ifdef Q_OS_WIN
    return QStringLiteral("実行ファイル (*.exe)");
#else
    return QStringLiteral("実行ファイル (*)");
#endif
}

} // namespace tinsoke
