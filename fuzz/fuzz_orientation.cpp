// The EXIF (TIFF) and XMP orientation readers, on any bytes.
#include "pictureparts.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const int tiff = tinsoke::tiffOrientation(bytes);
    const int xmp = tinsoke::xmpOrientation(bytes);
    if (tiff < 0 || tiff > 8 || xmp < 0 || xmp > 8)
        std::abort();
    return 0;
}
