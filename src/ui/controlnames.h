#pragma once

#include "settings.h"
#include "tools.h"

#include <QString>

// The window's names for what the core describes: the control that holds
// each setting, and each tool's page and browse button. The form's position
// has no control: an empty name.
QString settingControlName(tinsoke::Setting setting);
QString toolPageName(tinsoke::Tool tool);
QString toolBrowseName(tinsoke::Tool tool);
