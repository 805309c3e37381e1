#pragma once

#include <QByteArray>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace tinsoke {

// A JPEG's quantized DCT coefficients and everything beside them that
// decides its decoded pixels. Two files with equal ones decode to the same
// pixels however their coefficients are coded: Huffman or arithmetic,
// baseline or progressive, optimized tables, restart markers.
struct JpegCoefficients {
    // Size, precision, colour space and Adobe transform; each component's
    // sampling, size in blocks and quantization table.
    QByteArray layout;
    // Every component's rows of blocks inside the picture, in order: where
    // each starts and its length in bytes. They stay where libjpeg read
    // them, which the reader keeps: copying a camera picture's tens of
    // megabytes would cost a third as much as reading them.
    std::vector<std::pair<const char *, std::size_t>> rows;
    std::shared_ptr<const void> reader;

    // The same layout, and every block inside the picture equal.
    bool sameAs(const JpegCoefficients &other) const;
};

// Reads them with the library the JPEG tools use. Nothing when it cannot
// read them, warned of damaged data on the way, when a progressive file
// leaves a coefficient unsent or unrefined (its decoder then smooths the
// blocks), or in a colour space the decoder does not show; the pixels
// decide then. Before the blocks are read, reserve is asked for their size
// in bytes; when it says no, they are not.
std::optional<JpegCoefficients> readJpegCoefficients(const QByteArray &file,
                                                     const std::function<bool(qint64)> &reserve);

} // namespace tinsoke
