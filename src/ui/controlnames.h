#pragma once

#include "settings.h"
#include "tools.h"

#include <QString>

// The window's names for what the core describes: the control that holds
// each setting, each tool's browse button, and the page of a tool with a
// manual option text. The form's position has no control: an empty name.
QString settingControlName(tinsoke::Setting setting);
QString toolPageName(tinsoke::Tool tool);
QString toolBrowseName(tinsoke::Tool tool);
