#include "ini.h"

#include "safewrite.h"
#include "text.h"

#include <QFile>
#include <QFileInfo>

#include <limits>

namespace tinsoke {

namespace {

const QByteArray ByteOrderMark("\xEF\xBB\xBF");

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString trimBlanks(const QString &s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isBlank(s.at(begin)))
        ++begin;
    while (end > begin && isBlank(s.at(end - 1)))
        --end;
    return s.mid(begin, end - begin);
}

} // namespace

IniDocument::Line IniDocument::parse(const QByteArray &bytes, const QByteArray &ending)
{
    Line line;
    line.bytes = bytes;
    line.ending = ending;
    const QString text = trimBlanks(QString::fromUtf8(bytes));
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        line.kind = Line::Section;
        line.name = trimBlanks(text.mid(1, close < 0 ? -1 : close - 1));
        return line;
    }
    const qsizetype eq = text.indexOf(u'=');
    if (eq > 0) {
        line.kind = Line::Key;
        line.name = trimBlanks(text.left(eq));
        QString value = trimBlanks(text.mid(eq + 1));
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        line.value = value;
    }
    return line;
}

IniDocument IniDocument::fromBytes(const QByteArray &bytes)
{
    IniDocument doc;
    QByteArray data = bytes;
    if (data.startsWith(ByteOrderMark)) {
        doc.m_byteOrderMark = true;
        data.remove(0, ByteOrderMark.size());
    }
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype lf = data.indexOf('\n', start);
        if (lf < 0) {
            doc.m_lines.append(parse(data.mid(start), QByteArray()));
            break;
        }
        const bool crlf = lf > start && data.at(lf - 1) == '\r';
        const qsizetype textEnd = crlf ? lf - 1 : lf;
        doc.m_lines.append(parse(data.mid(start, textEnd - start),
                                 crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n")));
        start = lf + 1;
    }
    return doc;
}

QByteArray IniDocument::toBytes() const
{
    QByteArray out = m_byteOrderMark ? ByteOrderMark : QByteArray();
    for (const Line &line : m_lines)
        out += line.bytes + line.ending;
    return out;
}

qsizetype IniDocument::findSection(const QString &section) const
{
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (m_lines.at(i).kind == Line::Section &&
            m_lines.at(i).name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

qsizetype IniDocument::sectionEnd(qsizetype header) const
{
    qsizetype i = header + 1;
    while (i < m_lines.size() && m_lines.at(i).kind != Line::Section)
        ++i;
    return i;
}

std::optional<QString> IniDocument::value(const QString &section, const QString &key) const
{
    const qsizetype header = findSection(section);
    if (header < 0)
        return std::nullopt;
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        const Line &line = m_lines.at(i);
        if (line.kind == Line::Key && line.name.compare(key, Qt::CaseInsensitive) == 0)
            return line.value;
    }
    return std::nullopt;
}

void IniDocument::insertLine(qsizetype at, const QString &text)
{
    // The line before a new one must end, or the two would run together.
    if (at > 0 && m_lines.at(at - 1).ending.isEmpty())
        m_lines[at - 1].ending = QByteArrayLiteral("\r\n");
    m_lines.insert(at, parse(text.toUtf8(), QByteArrayLiteral("\r\n")));
}

void IniDocument::setValue(const QString &section, const QString &key, const QString &value)
{
    const QString text = key + u'=' + value;
    const qsizetype header = findSection(section);
    if (header < 0) {
        // A new section at the end, set off by an empty line as the others are.
        if (!m_lines.isEmpty() && !trimBlanks(QString::fromUtf8(m_lines.last().bytes)).isEmpty())
            insertLine(m_lines.size(), QString());
        insertLine(m_lines.size(), u'[' + section + u']');
        insertLine(m_lines.size(), text);
        return;
    }
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        Line &line = m_lines[i];
        if (line.kind == Line::Key && line.name.compare(key, Qt::CaseInsensitive) == 0) {
            line = parse(text.toUtf8(), line.ending);
            return;
        }
    }
    // After the section's last line that is not empty, before the gap to the next.
    qsizetype at = end;
    while (at > header + 1 && trimBlanks(QString::fromUtf8(m_lines.at(at - 1).bytes)).isEmpty())
        --at;
    insertLine(at, text);
}

void IniDocument::removeSection(const QString &section)
{
    qsizetype header = findSection(section);
    if (header < 0)
        return;
    const qsizetype end = sectionEnd(header);
    while (header > 0 && trimBlanks(QString::fromUtf8(m_lines.at(header - 1).bytes)).isEmpty())
        --header;
    m_lines.remove(header, end - header);
}

IniDocument loadIniFile(const QString &path, bool *ok)
{
    const QFileInfo info(path);
    const bool exists = info.exists() || info.isSymLink();
    // A FIFO or a device is never opened for reading: it could wait or never end.
    QByteArray bytes;
    const bool read = exists && info.isFile() && info.size() <= MaxSettingsFileSize &&
                      readRegularFile(path, &bytes) && bytes.size() <= MaxSettingsFileSize;
    if (ok)
        *ok = !exists || read;
    return read ? IniDocument::fromBytes(bytes) : IniDocument();
}

bool saveIniFile(const QString &path, const IniDocument &document)
{
    return writeFileVerified(path, document.toBytes());
}

int iniInteger(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+'))
        negative = text.at(i++) == u'-';
    qint64 n = 0;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        n = n * 10 + (text.at(i).unicode() - u'0');
        if (n > std::numeric_limits<int>::max())
            return negative ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
    }
    return static_cast<int>(negative ? -n : n);
}

bool iniBool(const QString &text)
{
    const QString word = foldAsciiLetters(trimmedOfControls(text).toString());
    if (word == u"1" || word == u"Y" || word == u"YES" || word == u"ON")
        return true;
    if (word == u"0" || word == u"N" || word == u"NO" || word == u"OFF")
        return false;
    return true;
}

QString iniText(int value)
{
    return QString::number(value);
}

QString iniText(bool value)
{
    return value ? QStringLiteral("Yes") : QStringLiteral("No");
}

} // namespace tinsoke
