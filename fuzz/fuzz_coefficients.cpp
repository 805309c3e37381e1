// The JPEG coefficient reader on any bytes: what it reads it reads the same
// way twice, and the blocks it keeps outlive the bytes they came from.
#include "jpegcoefficients.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

std::optional<tinsoke::JpegCoefficients> read(const uint8_t *data, size_t size)
{
    // A copy of its own, gone when this returns.
    const QByteArray file(reinterpret_cast<const char *>(data), qsizetype(size));
    return tinsoke::readJpegCoefficients(file, [](qint64 bytes) { return bytes <= (64 << 20); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto first = read(data, size);
    const auto second = read(data, size);
    if (first.has_value() != second.has_value() || (first && !first->sameAs(*second))) {
        std::fprintf(stderr, "the same bytes read two ways\n");
        std::abort();
    }
    return 0;
}
