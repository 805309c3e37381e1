#include "settings.h"

#include "text.h"
#include "tools.h"

#include <algorithm>

namespace tinsoke {

namespace {

using K = ValueKind;

// The program's own sections, in reading order.
const QList<SectionSpec> &ownSections()
{
    static const QList<SectionSpec> Sections{
        {u"Form",
         u"Form",
         {{u"Top", K::Integer, "0"},
          {u"Left", K::Integer, "0"},
          {u"Width", K::Integer, "632"},
          {u"Height", K::Integer, "453"}}},
        {u"Option",
         u"Option",
         {// An unreadable save method gets the designed choice: a copy beside
          // the file, the original untouched.
          {u"SaveMode", K::Integer, "0", false, 1},
          {u"Jobs", K::Integer, "0"},
          // A first start puts what an overwrite replaces into the Trash; a
          // file from before the choice keeps nothing, as then. A word that
          // cannot be read keeps the original.
          {u"Originals", K::Choice, "Trash", false, 1, nullptr, u"Keep|Trash"}}},
    };
    return Sections;
}

} // namespace

namespace {

struct Section {
    const SectionSpec *spec;
    Setting first; // the setting of its first key
};

// Every section in reading order: the program's own, then each tool's.
const QList<Section> &sectionsInReadingOrder()
{
    static const QList<Section> Sections = [] {
        QList<Section> sections;
        int next = 0;
        for (const SectionSpec &own : ownSections()) {
            sections.append({&own, static_cast<Setting>(next)});
            next += static_cast<int>(own.keys.size());
        }
        Q_ASSERT(next == static_cast<int>(Setting::FirstToolKey));
        for (const Tool tool : AllTools) {
            const SectionSpec &spec = toolInfo(tool).settings;
            Q_ASSERT(spec.indexOf(u"Use") == 0 && spec.indexOf(u"Path") == 1);
            sections.append({&spec, static_cast<Setting>(next)});
            next += static_cast<int>(spec.keys.size());
        }
        return sections;
    }();
    return Sections;
}

// A save, and the default text, take [Option] before [Form].
QList<Section> sectionsInWritingOrder()
{
    QList<Section> sections = sectionsInReadingOrder();
    sections.swapItemsAt(0, 1);
    return sections;
}

// The places of a section's keys in the order the names give, or in reading order.
QList<qsizetype> keyOrder(const SectionSpec &section, const QList<QStringView> &names)
{
    QList<qsizetype> order;
    if (names.isEmpty()) {
        for (qsizetype i = 0; i < section.keys.size(); ++i)
            order.append(i);
        return order;
    }
    for (const QStringView name : names) {
        for (qsizetype i = 0; i < section.keys.size(); ++i) {
            if (name == QStringView(section.keys.at(i).key))
                order.append(i);
        }
    }
    Q_ASSERT(order.size() == section.keys.size());
    return order;
}

} // namespace

const QList<SettingKey> &settingKeys()
{
    static const QList<SettingKey> Keys = [] {
        QList<SettingKey> keys;
        for (const Section &section : sectionsInReadingOrder()) {
            const SectionSpec &spec = *section.spec;
            for (qsizetype i = 0; i < spec.keys.size(); ++i) {
                const KeySpec &k = spec.keys.at(i);
                const Setting setting = static_cast<Setting>(static_cast<int>(section.first) + i);
                Q_ASSERT(static_cast<int>(setting) == keys.size());
                keys.append({setting, spec.section, k.key, k.kind, &k});
            }
        }
        return keys;
    }();
    return Keys;
}

const SettingKey &settingKey(Setting setting)
{
    return settingKeys().at(static_cast<qsizetype>(setting));
}

namespace {

// The setting of the first key of the tool's section, Use.
Setting firstToolSetting(Tool tool)
{
    return sectionsInReadingOrder().at(ownSections().size() + static_cast<qsizetype>(tool)).first;
}

} // namespace

std::optional<Setting> toolSetting(Tool tool, QStringView key)
{
    const qsizetype i = toolInfo(tool).settings.indexOf(key);
    if (i < 0)
        return std::nullopt;
    return static_cast<Setting>(static_cast<int>(firstToolSetting(tool)) + i);
}

Setting toolUseSetting(Tool tool)
{
    return firstToolSetting(tool);
}

Setting toolPathSetting(Tool tool)
{
    return static_cast<Setting>(static_cast<int>(firstToolSetting(tool)) + 1);
}

ToolSettings toolSettings(const SettingValues &values, Tool tool)
{
    const SectionSpec &spec = toolInfo(tool).settings;
    QList<QVariant> own;
    for (qsizetype i = 0; i < spec.keys.size(); ++i)
        own.append(
            valueOf(values, static_cast<Setting>(static_cast<int>(firstToolSetting(tool)) + i)));
    return ToolSettings(spec, own);
}

SettingValues::SettingValues()
    : m_values(settingKeys().size())
{}

namespace {

bool isNumber(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = t.startsWith(u'-') || t.startsWith(u'+') ? 1 : 0;
    if (i == t.size())
        return false;
    for (; i < t.size(); ++i) {
        if (t.at(i) < u'0' || t.at(i) > u'9')
            return false;
    }
    return true;
}

// Another key of the same section.
Setting settingIn(const SettingKey &near, const char16_t *key)
{
    for (const SettingKey &k : settingKeys()) {
        if (k.readSection == near.readSection && QStringView(k.key) == QStringView(key))
            return k.setting;
    }
    Q_ASSERT(false);
    return near.setting;
}

} // namespace

SettingValues readSettings(const IniDocument &document, QList<SettingNote> *notes)
{
    SettingValues values;
    QList<Setting> offWhenUnreadable;
    for (const SettingKey &k : settingKeys()) {
        const std::optional<QString> found =
            document.value(QString::fromUtf16(k.readSection), QString::fromUtf16(k.key));
        const QString text = found.value_or(QString());
        std::optional<SettingNote::Kind> note;
        if (!found)
            note = SettingNote::Kind::Missing;
        switch (k.kind) {
        case ValueKind::Text:
            valueOf(values, k.setting) = text;
            break;
        case ValueKind::Integer:
            valueOf(values, k.setting) = iniInteger(text);
            if (found && !isNumber(text)) {
                note = SettingNote::Kind::NotNumber;
                valueOf(values, k.setting) = k.spec->unreadable;
                if (k.spec->offWhenUnreadable)
                    offWhenUnreadable.append(settingIn(k, k.spec->offWhenUnreadable));
            }
            break;
        case ValueKind::Choice: {
            const QStringList words = k.spec->choiceWords();
            qsizetype place = 0;
            for (; place < words.size(); ++place) {
                if (foldAsciiLetters(text.trimmed()) == foldAsciiLetters(words.at(place)))
                    break;
            }
            valueOf(values, k.setting) = found ? int(place) : 0;
            if (found && place == words.size()) {
                note = SettingNote::Kind::NotChoice;
                valueOf(values, k.setting) = k.spec->unreadable;
            }
            break;
        }
        case ValueKind::YesNo:
            // A missing key reads as yes.
            valueOf(values, k.setting) = found ? yesNoValue(text, *k.spec) : iniBool(text);
            if (found && !isYesNoWord(text))
                note = SettingNote::Kind::NotYesNo;
            break;
        }
        if (note && notes)
            notes->append({k.setting, *note, text});
    }
    // What the number chooses cannot be read: the switch it belongs to is off.
    for (const Setting s : std::as_const(offWhenUnreadable))
        valueOf(values, s) = false;
    return values;
}

QString settingName(Setting setting)
{
    const SettingKey &k = settingKey(setting);
    return QStringLiteral("[%1] %2").arg(QString::fromUtf16(k.readSection),
                                         QString::fromUtf16(k.key));
}

QString settingValueText(const SettingValues &values, Setting setting)
{
    const QVariant &v = valueOf(values, setting);
    switch (settingKey(setting).kind) {
    case ValueKind::YesNo:
        return v.toBool() ? QStringLiteral("はい") : QStringLiteral("いいえ");
    case ValueKind::Integer:
        return QString::number(v.toInt());
    case ValueKind::Choice:
        return settingKey(setting).spec->choiceWords().value(v.toInt());
    case ValueKind::Text:
        break;
    }
    return v.toString().isEmpty() ? QStringLiteral("空") : v.toString();
}

QString settingNoteText(const SettingNote &note, const SettingValues &values)
{
    const QString name = settingName(note.setting);
    const QString became = settingValueText(values, note.setting);
    switch (note.kind) {
    case SettingNote::Kind::Missing:
        return QStringLiteral("設定ファイルに %1 がありません。「%2」として扱います。")
            .arg(name, became);
    case SettingNote::Kind::NotYesNo:
        return QStringLiteral("設定ファイルの %1 の値「%2」は Yes／No として読めません。"
                              "「%3」として扱います。")
            .arg(name, note.text, became);
    case SettingNote::Kind::NotChoice:
        return QStringLiteral("設定ファイルの %1 の値「%2」は %3 のどれとしても読めません。"
                              "「%4」として扱います。")
            .arg(name, note.text,
                 settingKey(note.setting).spec->choiceWords().join(QStringLiteral("／")), became);
    case SettingNote::Kind::NotNumber:
        break;
    }
    return QStringLiteral(
               "設定ファイルの %1 の値「%2」は数値として読めません。「%3」として扱います。")
        .arg(name, note.text, became);
}

void writeSettings(IniDocument &document, const SettingValues &values)
{
    for (const Section &section : sectionsInWritingOrder()) {
        const SectionSpec &spec = *section.spec;
        for (const qsizetype i : keyOrder(spec, spec.writeOrder)) {
            const KeySpec &k = spec.keys.at(i);
            const QVariant &v =
                valueOf(values, static_cast<Setting>(static_cast<int>(section.first) + i));
            const QString text = k.kind == ValueKind::Text      ? v.toString()
                                 : k.kind == ValueKind::Integer ? iniText(v.toInt())
                                 : k.kind == ValueKind::Choice  ? k.choiceWords().value(v.toInt())
                                                                : iniText(v.toBool());
            document.setValue(QString::fromUtf16(spec.newSection), QString::fromUtf16(k.key), text);
        }
    }
}

QByteArray defaultSettingsText()
{
    // [Set] is kept for the file's own sake: no setting of ours is behind it.
    QByteArray text = "[Set]\r\nFittingThreshold =10\r\n";
    for (const Section &section : sectionsInWritingOrder()) {
        const SectionSpec &spec = *section.spec;
        text += "\r\n[" + QString::fromUtf16(spec.section).toUtf8() + "]\r\n";
        for (const qsizetype i : keyOrder(spec, spec.defaultOrder)) {
            const KeySpec &k = spec.keys.at(i);
            text += QString::fromUtf16(k.key).toUtf8() + " =" + k.defaultValue + "\r\n";
        }
    }
    return text;
}

QPoint windowPositionFor(int storedLeft, int storedTop, const QRect &workArea)
{
    // The far edges lie just past the last pixel, as work-area edges are counted.
    const int right = workArea.x() + workArea.width();
    const int bottom = workArea.y() + workArea.height();
    const int top = storedTop < 0 || storedTop > bottom ? 0 : storedTop;
    const int left = storedLeft < 0 || storedLeft > right ? 0 : storedLeft;
    return {left, top};
}

QSize windowSizeFor(int storedWidth, int storedHeight, const QSize &designed, const QRect &workArea)
{
    return {std::max(designed.width(), std::min(storedWidth, workArea.width())),
            std::max(designed.height(), std::min(storedHeight, workArea.height()))};
}

} // namespace tinsoke
