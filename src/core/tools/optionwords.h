#pragma once

#include <QString>
#include <QStringList>

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

// Option words. A manual text replaces everything: it is what the user
// typed, split once into arguments.
QStringList jpegtranWords(const JpegtranSettings &s);
QStringList jpegoptimWords(const JpegoptimSettings &s);
QStringList advPngWords(const LevelSettings &s);
QStringList optiPngWords(const LevelSettings &s);
QStringList pngCrushWords(const ManualSettings &s);
QStringList pngoutWords(const ManualSettings &s);

} // namespace tinsoke
