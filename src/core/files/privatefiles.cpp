#include "privatefiles.h"

#include <QDir>
#include <QFileInfo>

namespace tinsoke {

OpenedFile::OpenedFile(OpenedFile &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_identity(other.m_identity)
    , m_realPath(std::move(other.m_realPath))
{}

QString temporaryFolder()
{
    for (const char *name : {"TEMP", "TMPDIR"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return QFileInfo(value).absoluteFilePath(); // tools run in a folder of their own
    }
    return QDir::tempPath();
}

} // namespace tinsoke
