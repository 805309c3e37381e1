#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace tinsoke {

// A profile file held as its lines. Sections and keys match without regard
// to case, the first match winning; blanks around keys and values are
// ignored and a value in matching quotes is read without them. Changing a
// value rewrites only its own line; every other line keeps its bytes, its
// line end included. Text is UTF-8; a byte-order mark is kept if present.
class IniDocument {
public:
    static IniDocument fromBytes(const QByteArray &bytes);
    QByteArray toBytes() const;

    // The value of the key, or nothing when the section or key is missing.
    std::optional<QString> value(const QString &section, const QString &key) const;

    // Replaces the key's line by "key=value"; a new key goes after the last
    // line of its section, a new section at the end of the file.
    void setValue(const QString &section, const QString &key, const QString &value);

    // Takes the section out, its header and lines, and the empty lines that
    // set it off from the one before.
    void removeSection(const QString &section);

private:
    struct Line {
        QByteArray bytes;  // the line as read, without its line end
        QByteArray ending; // "\r\n", "\n" or nothing for an unterminated last line
        enum Kind { Other, Section, Key } kind = Other;
        QString name;  // section or key name
        QString value; // key value, blanks and quotes removed
    };
    static Line parse(const QByteArray &bytes, const QByteArray &ending);
    qsizetype findSection(const QString &section) const;
    qsizetype sectionEnd(qsizetype header) const;
    void insertLine(qsizetype at, const QString &text);

    QList<Line> m_lines;
    bool m_byteOrderMark = false;
};

// A settings file is small; anything larger is not one.
constexpr qint64 MaxSettingsFileSize = 1024 * 1024;

// The file at path as a document; a missing or unreadable file gives an
// empty one (ok, when given, tells whether an existing file could be read:
// a regular file of at most MaxSettingsFileSize bytes).
IniDocument loadIniFile(const QString &path, bool *ok = nullptr);

// Writes the document to path the verified way (see writeFileVerified): a
// file that cannot be written whole stays as it was.
bool saveIniFile(const QString &path, const IniDocument &document);

// How a stored text turns into the other kinds, and back.
int iniInteger(const QString &text); // leading blanks, sign, digits; nothing readable is 0
bool iniBool(const QString &text);   // 1/Y/YES/ON yes, 0/N/NO/OFF no, anything else yes
QString iniText(int value);
QString iniText(bool value);

} // namespace tinsoke
