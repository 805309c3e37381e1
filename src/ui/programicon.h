#pragma once

#include <QIcon>

// The program's own icon: 64x64 pixels in 16 colours.
QIcon programIcon();
