#include "runhost.h"

#include "finishedfiles.h"
#include "ini.h"
#include "paths.h"

#include <utility>

namespace tinsoke {

QString toolOnPath(Tool tool)
{
    return findProgramOnPath(QString::fromUtf16(toolInfo(tool).program));
}

SettingValues firstStartSettings()
{
    SettingValues values = readSettings(IniDocument::fromBytes(defaultSettingsText()));
    for (const Tool tool : AllTools) {
        const QString found = toolOnPath(tool);
        valueOf(values, toolPathSetting(tool)) = found;
        valueOf(values, toolUseSetting(tool)) = !found.isEmpty();
    }
    return values;
}

RunHost::RunHost(QString settingsPath, PictureReader readFacts, PictureChangeCheck checkChange)
    : m_settingsPath(std::move(settingsPath))
    , m_readFacts(std::move(readFacts))
    , m_checkChange(std::move(checkChange))
{}

std::shared_ptr<FinishedFiles> RunHost::memory()
{
    if (!m_memory)
        m_memory = std::make_shared<FinishedFiles>(finishedFilesPath(m_settingsPath));
    return m_memory;
}

std::unique_ptr<RunEngine> RunHost::engine(const RunPlan &plan, QList<RowTask> rows, bool force)
{
    auto engine = std::make_unique<RunEngine>(plan, std::move(rows), m_readFacts, m_checkChange);
    engine->setMemory(memory(), force);
    return engine;
}

} // namespace tinsoke
