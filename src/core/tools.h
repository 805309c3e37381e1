#pragma once

#include "settings.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

namespace tinsoke {

// The eight optimizers, in the order the program always takes them: list
// columns, pages, settings sections and the order of a run.
enum class Tool { Jpegtran, Jpegoptim, AdvPNG, OptiPNG, PNGCrush, PNGOUT, PNGRewrite, cPNGC };

constexpr int ToolCount = 8;
constexpr std::array<Tool, ToolCount> AllTools{Tool::Jpegtran,   Tool::Jpegoptim, Tool::AdvPNG,
                                               Tool::OptiPNG,    Tool::PNGCrush,  Tool::PNGOUT,
                                               Tool::PNGRewrite, Tool::cPNGC};

enum class ImageKind { Jpeg, Png };

// Where a tool leaves its result.
enum class Output {
    InPlace,       // rewrites the file it is given
    BesideWithJpg, // writes the file's path with ".jpg" appended
    TemporaryFile, // writes a second file named on its command line
};

// How a tool's options ask to turn or flip the picture.
enum class Reshape { None, FlipH, FlipV, Rotate90, Rotate180, Rotate270, Transpose, Transverse };

// Which parts of a picture a tool's options ask to change or remove; the
// result check lets exactly those differ. The orientation and the colour
// profile stay through every strip unless an option names them.
struct PictureAllowances {
    Reshape reshape = Reshape::None;
    bool grayscale = false;
    bool trim = false;         // edge blocks a turn cannot move may be cut off
    bool anyPixels = false;    // a crop or a drop: another picture altogether
    bool colour = false;       // the colour profile and the other colour markers may go
    bool allMetadata = false;  // every other metadata chunk or marker may go ...
    bool keepComments = false; // ... but the comments
    bool exif = false;         // EXIF (its orientation is kept)
    bool comments = false;     // JPEG COM
    bool xmp = false;          // XMP
    bool iptc = false;         // IPTC / Photoshop
    bool text = false;         // PNG text chunks
    QList<QByteArray> chunks;  // PNG chunks removed by name

    bool pixels() const { return reshape != Reshape::None || grayscale || trim || anyPixels; }
    // What two steps together allow.
    PictureAllowances &operator|=(const PictureAllowances &o);
};

struct ToolInfo {
    Tool tool;
    const char16_t *name;
    ImageKind kind;
    Output output;
    const char16_t *program; // the program's usual file name on Linux, looked up on PATH
    int column;              // the list column of its size
    // The settings that tick the tool and name its program, and how its
    // option words are built from the settings.
    Setting useSetting;
    Setting pathSetting;
    QStringList (*options)(const SettingValues &settings);
    // Its arguments for one file, around its option words: the output form
    // of each tool lives here and nowhere else.
    QStringList (*arguments)(const QStringList &words, const QString &input, const QString &output);
    // What its options ask to change of the picture.
    PictureAllowances (*allowances)(const QStringList &words);
    // An exit code besides 0 that still means it worked, or 0.
    int alsoFine = 0;
};

const ToolInfo &toolInfo(Tool tool);

} // namespace tinsoke
