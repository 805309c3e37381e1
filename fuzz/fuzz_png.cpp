// The PNG parser, its structure check and the put-back, on any bytes.
#include "roundtrip.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray file(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const char *fault = tinsoke::roundTripFault(file, tinsoke::ImageKind::Png)) {
        std::fprintf(stderr, "round trip: %s\n", fault);
        std::abort();
    }
    const tinsoke::PngRules rules = tinsoke::pngRules(file);
    if (rules.whole && rules.key[0] >= 0 && rules.key[0] >= (1 << rules.bitDepth))
        std::abort(); // a transparent sample above the bit depth
    return 0;
}
