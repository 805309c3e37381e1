#pragma once

#include "tools.h"

#include <QString>

namespace tinsoke {

// The settings of each tool's page as plain values; radio indexes count from
// 0, -1 meaning that no item is selected.

struct JpegtranSettings {
    bool optimize = false;
    bool progressive = false;
    bool grayscale = false;
    bool trim = false;
    int markerCopy = 0; // 0 none, 1 comments, 2 all
    int transform = 0;  // 0 none, 1..7 flips, rotations, transpositions
};

struct JpegoptimSettings {
    bool strip = false;
    int marker = 0; // which markers to strip, when strip is on
};

// AdvPNG and OptiPNG: a level from a scroll bar, or options typed by hand.
struct LevelSettings {
    bool manual = false;
    QString manualText;
    int level = 0;
};

// PNGCrush and PNGOUT: options typed by hand, or the tool's fixed ones.
struct ManualSettings {
    bool manual = false;
    QString manualText;
};

// Option strings. Switches end in a blank so that they can follow each other;
// a manual text replaces everything and is used exactly as typed.
QString jpegtranOptions(const JpegtranSettings &s);
QString jpegoptimOptions(const JpegoptimSettings &s);
QString advPngOptions(const LevelSettings &s);
QString optiPngOptions(const LevelSettings &s);
QString pngCrushOptions(const ManualSettings &s);
QString pngoutOptions(const ManualSettings &s);

} // namespace tinsoke
