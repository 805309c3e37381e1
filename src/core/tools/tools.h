#pragma once

#include "settingkeys.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <array>
#include <optional>
#include <utility>

namespace tinsoke {

// The built-in optimizers, in the order the program always takes them: list
// columns, pages, settings sections and the order of a run. Each is
// described once, by toolInfo.
enum class Tool { Jpegtran, Jpegoptim, AdvPNG, OptiPNG, PNGCrush, PNGOUT, PNGRewrite, cPNGC };

constexpr int ToolCount = static_cast<int>(Tool::cPNGC) + 1;

namespace detail {
template <std::size_t... I>
constexpr std::array<Tool, ToolCount> allTools(std::index_sequence<I...>)
{
    return {static_cast<Tool>(I)...};
}
} // namespace detail

constexpr std::array<Tool, ToolCount> AllTools =
    detail::allTools(std::make_index_sequence<ToolCount>());

enum class ImageKind { Jpeg, Png };

// The file list's columns: the caption, the size, each tool's size in tool
// order, the path, then the sizes of the user's own tools.
constexpr int ListPathColumn = 2 + ToolCount;
constexpr int FirstOwnToolColumn = ListPathColumn + 1;

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

// A tool's own settings, by key, as its option builder reads them: the
// values of its section's keys, in the section's order.
class ToolSettings {
public:
    ToolSettings(const SectionSpec &section, QList<QVariant> values)
        : m_section(section)
        , m_values(std::move(values))
    {}
    bool yes(const char16_t *key) const { return value(key).toBool(); }
    int number(const char16_t *key) const { return value(key).toInt(); }
    QString text(const char16_t *key) const { return value(key).toString(); }

private:
    QVariant value(const char16_t *key) const;
    const SectionSpec &m_section;
    QList<QVariant> m_values;
};

// Everything the program knows of one built-in tool.
struct ToolInfo {
    Tool tool;
    const char16_t *name; // in messages and on the command line
    ImageKind kind;
    Output output;
    const char16_t *program; // the program's usual file name on Linux, looked up on PATH
    // Its settings section: Use and Path first, then its options.
    SectionSpec settings;
    // Its list column: the caption and the designed width (0 shares the
    // free width).
    const char16_t *caption;
    int columnWidth;
    // How its option words are built from its settings.
    QStringList (*options)(const ToolSettings &settings);
    // Its arguments for one file, around its option words: the output form
    // of each tool lives here and nowhere else.
    QStringList (*arguments)(const QStringList &words, const QString &input, const QString &output);
    // What its options ask to change of the picture.
    PictureAllowances (*allowances)(const QStringList &words);
    // An exit code besides 0 that still means it worked, or 0.
    int alsoFine = 0;

    // Set from its place in the table: the list column of its size.
    int column = 0;
};

// Every built-in tool, described once: the settings file, the window's pages
// and list, the run and the command line all read it from here.
const ToolInfo &toolInfo(Tool tool);

} // namespace tinsoke
