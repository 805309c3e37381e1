#include "controlnames.h"

#include <map>

namespace {

using tinsoke::Setting;
using tinsoke::Tool;

// A tool's controls are named after the tool: CheckBox_X for its tick,
// Edit_X for its program, CheckBox_X_Key for its other ticks, and for a
// manual option text Edit_XParam with its tick CheckBox_XCommand. The number
// keys' controls keep the names the layout gave them.
std::map<Setting, QString> controlNames()
{
    std::map<Setting, QString> names{{Setting::SaveMode, QStringLiteral("RadioGroup1")},
                                     {Setting::Jobs, QStringLiteral("SpinEdit_Jobs")},
                                     {Setting::Originals, QStringLiteral("CheckBox_Trash")}};
    struct Named {
        Tool tool;
        const char16_t *key;
        const char *control;
    };
    static const Named Numbers[] = {
        {Tool::Jpegtran, u"CopyMode", "RadioGroup2"},
        {Tool::Jpegtran, u"ModifyMode", "RadioGroup3"},
        {Tool::Jpegoptim, u"StripMode", "RadioGroup6"},
        {Tool::AdvPNG, u"CompressLevel", "ScrollBar_AdvPNG"},
        {Tool::OptiPNG, u"OptimizeLevel", "ScrollBar1"},
    };
    for (const Named &n : Numbers)
        names.emplace(*tinsoke::toolSetting(n.tool, n.key), QString::fromLatin1(n.control));

    for (const Tool tool : tinsoke::AllTools) {
        const tinsoke::ToolInfo &info = tinsoke::toolInfo(tool);
        const QString name = QString::fromUtf16(info.name);
        for (const tinsoke::KeySpec &k : info.settings.keys) {
            const QStringView key(k.key);
            const Setting setting = *tinsoke::toolSetting(tool, key);
            QString control;
            if (key == u"Use")
                control = QStringLiteral("CheckBox_") + name;
            else if (key == u"Path")
                control = QStringLiteral("Edit_") + name;
            else if (key == u"UseParam")
                control = QStringLiteral("CheckBox_%1Command").arg(name);
            else if (key == u"Param")
                control = QStringLiteral("Edit_%1Param").arg(name);
            else if (k.kind == tinsoke::ValueKind::YesNo)
                control = QStringLiteral("CheckBox_%1_%2").arg(name, key);
            if (!control.isEmpty())
                names.emplace(setting, control);
        }
    }
    return names;
}

} // namespace

QString settingControlName(Setting setting)
{
    static const std::map<Setting, QString> Names = controlNames();
    const auto found = Names.find(setting);
    return found == Names.end() ? QString() : found->second;
}

QString toolPageName(Tool tool)
{
    return QStringLiteral("TabSheet_") + QString::fromUtf16(tinsoke::toolInfo(tool).name);
}

QString toolBrowseName(Tool tool)
{
    return QStringLiteral("Button_") + QString::fromUtf16(tinsoke::toolInfo(tool).name);
}
