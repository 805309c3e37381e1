#pragma once

#include <QString>

namespace tinsoke {

// Whether anything stands at the path: a file, a folder, or a link, even a dead one.
bool entryExists(const QString &path);

} // namespace tinsoke
