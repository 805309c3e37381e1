#pragma once

#include <QString>

#include <array>

namespace tinsoke {

// The eight optimizers, in the order the program always takes them: list
// columns, pages, settings sections and the order of a run.
enum class Tool { Jpegtran, Jpegoptim, AdvPNG, OptiPNG, PNGCrush, PNGOUT, PNGRewrite, cPNGC };

constexpr std::array<Tool, 8> AllTools{Tool::Jpegtran,   Tool::Jpegoptim, Tool::AdvPNG,
                                       Tool::OptiPNG,    Tool::PNGCrush,  Tool::PNGOUT,
                                       Tool::PNGRewrite, Tool::cPNGC};

enum class ImageKind { Jpeg, Png };

// Where a tool leaves its result.
enum class Output {
    InPlace,       // rewrites the working file
    BesideWithJpg, // writes the working path with ".jpg" appended
    TemporaryFile, // writes a temporary file named on its command line
};

struct ToolInfo {
    Tool tool;
    const char16_t *name;
    ImageKind kind;
    Output output;
    const char16_t *program; // the program's usual file name on Linux, looked up on PATH
};

const ToolInfo &toolInfo(Tool tool);

} // namespace tinsoke
