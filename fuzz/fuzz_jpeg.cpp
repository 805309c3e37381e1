// The JPEG parser, its structure check and the put-back, on any bytes.
#include "roundtrip.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray file(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const char *fault = tinsoke::roundTripFault(file, tinsoke::ImageKind::Jpeg)) {
        std::fprintf(stderr, "round trip: %s\n", fault);
        std::abort();
    }
    return 0;
}
