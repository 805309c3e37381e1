#include "paths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

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

// The length of the valid UTF-8 sequence at i, or 0: overlong forms,
// surrogates and code points past U+10FFFF do not count as valid.
int utf8SequenceAt(const QByteArray &b, qsizetype i, char32_t *cp)
{
    const auto at = [&b](qsizetype k) {
        return static_cast<unsigned char>(b.at(k));
    };
    const unsigned char lead = at(i);
    int length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        *cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > b.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (at(i + k) & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return length;
}

bool isEscapedByte(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

} // namespace

QString pathFromBytes(const QByteArray &bytes)
{
    QString text = QString::fromUtf8(bytes);
    if (!text.contains(QChar::ReplacementCharacter) || text.toUtf8() == bytes)
        return text;
    text.clear();
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const int length = utf8SequenceAt(bytes, i, &cp);
        if (length == 0) {
            text += QChar(char16_t(0xDC00 + static_cast<unsigned char>(bytes.at(i))));
            ++i;
        } else {
            text += QString::fromUcs4(&cp, 1);
            i += length;
        }
    }
    return text;
}

QByteArray bytesOfPath(const QString &path)
{
    const auto lone = [&path](qsizetype i) {
        return isEscapedByte(path.at(i).unicode()) && (i == 0 || !path.at(i - 1).isHighSurrogate());
    };
    qsizetype i = 0;
    while (i < path.size() && !lone(i))
        ++i;
    if (i == path.size())
        return path.toUtf8();
    QByteArray bytes = path.left(i).toUtf8();
    for (qsizetype start = i; i <= path.size(); ++i) {
        if (i == path.size() || lone(i)) {
            bytes += QStringView(path).mid(start, i - start).toUtf8();
            if (i < path.size())
                bytes += char(path.at(i).unicode() - 0xDC00);
            start = i + 1;
        }
    }
    return bytes;
}

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

QString userSettingsFilePath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config)) // unset, empty or relative: the standard place
        config = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(config) + QStringLiteral("/pelmora-tinsoke/pelmora-tinsoke.ini");
}

bool canCreateFilesIn(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".pelmora-tinsoke-XXXXXX")));
    return probe.open(); // and it is removed again as it goes
}

bool isInstalledProgram(const QString &executablePath)
{
    return QFileInfo::exists(folderOf(executablePath) +
                             QStringLiteral("../share/applications/pelmora-tinsoke.desktop"));
}

QString settingsFilePath(const QString &executablePath)
{
    const QString beside = settingsFilePathFor(executablePath);
#ifdef Q_OS_WIN
    return beside;
#else
    // root may write to /usr/bin, yet an installed program's settings are the
    // user's. Saves go through a new file renamed over the old one, so it is
    // the folder that must take new files, not just the file itself.
    if (isInstalledProgram(executablePath))
        return userSettingsFilePath();
    return canCreateFilesIn(folderOf(beside)) ? beside : userSettingsFilePath();
#endif
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

bool namesUsableProgram(const QString &path)
{
#ifdef Q_OS_WIN
    return namesExistingFile(path);
#else
    return !path.isEmpty() && QFileInfo(path).isFile() && isDroppableExecutable(path);
#endif
}

QString findProgramOnPath(const QString &name)
{
#ifdef Q_OS_WIN
    return QStandardPaths::findExecutable(name);
#else
    if (name.isEmpty() || name.contains(u'/'))
        return {};
    const QStringList folders = qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts);
    for (const QString &folder : folders) {
        if (!QDir::isAbsolutePath(folder))
            continue;
        const QFileInfo candidate(QDir::cleanPath(folder + u'/' + name));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.filePath();
    }
    return {};
#endif
}

QString executableFileFilter()
{
#ifdef Q_OS_WIN
    return QStringLiteral("実行ファイル (*.exe)");
#else
    return QStringLiteral("実行ファイル (*)");
#endif
}

QString browseStartFolder(const QString &currentPath)
{
    if (QDir::isAbsolutePath(currentPath)) {
        const QString folder = QFileInfo(currentPath).absolutePath();
        if (QFileInfo(folder).isDir())
            return folder;
    }
#ifdef Q_OS_WIN
    return QString(); // the dialog's own choice
#else
    return QStringLiteral("/usr/bin");
#endif
}

QStringList pathsFromArguments(const QStringList &arguments, const QString &currentFolder)
{
    const QDir here(currentFolder);
    QStringList paths;
    bool optionsEnded = false;
    for (const QString &word : arguments) {
        if (word.isEmpty())
            continue;
        if (!optionsEnded && word == u"--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && word.startsWith(u'-'))
            continue;
        paths.append(QDir::cleanPath(here.absoluteFilePath(word)));
    }
    return paths;
}

} // namespace tinsoke
