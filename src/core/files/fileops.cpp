#include "fileops.h"

#include <QFileInfo>

namespace tinsoke {

bool entryExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace tinsoke
