#include "jpegcoefficients.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <cstring>

#include <jpeglib.h>

namespace tinsoke {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the read that failed. Warnings are counted, not
// printed.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void jumpBack(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

void stayQuiet(j_common_ptr) {}

void append16(QByteArray *out, unsigned value)
{
    const char bytes[2] = {char(value >> 8), char(value)};
    out->append(bytes, 2);
}

// The reads below jump back to their own setjmp; between it and any jump
// they create nothing with a destructor, so nothing is skipped.
class Reader {
public:
    explicit Reader(const QByteArray &file)
        : m_file(file)
    {
        m_cinfo.err = jpeg_std_error(&m_errors.pub);
        m_errors.pub.error_exit = jumpBack;
        m_errors.pub.output_message = stayQuiet;
    }
    // Safe also after a failed start: libjpeg then has nothing to free.
    ~Reader() { jpeg_destroy_decompress(&m_cinfo); }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    // The header up to the first scan: the size in blocks of each component.
    bool header(qint64 *blockBytes)
    {
        if (setjmp(m_errors.jump))
            return false;
        // Within the jump's reach: an empty file is an error of libjpeg's.
        jpeg_create_decompress(&m_cinfo);
        jpeg_mem_src(&m_cinfo, reinterpret_cast<const unsigned char *>(m_file.constData()),
                     static_cast<unsigned long>(m_file.size()));
        if (jpeg_read_header(&m_cinfo, TRUE) != JPEG_HEADER_OK)
            return false;
        // What the picture's decoder shows; others it refuses, which the
        // pixels then tell.
        const int n = m_cinfo.num_components;
        const J_COLOR_SPACE space = m_cinfo.jpeg_color_space;
        const bool shown =
            m_cinfo.data_precision == 8 && ((n == 1 && space == JCS_GRAYSCALE) ||
                                            (n == 3 && (space == JCS_YCbCr || space == JCS_RGB)) ||
                                            (n == 4 && (space == JCS_CMYK || space == JCS_YCCK)));
        if (!shown)
            return false;
        qint64 bytes = 0;
        for (int c = 0; c < n; ++c) {
            const jpeg_component_info &component = m_cinfo.comp_info[c];
            bytes += qint64(component.width_in_blocks) * component.height_in_blocks *
                     qint64(sizeof(JBLOCK));
        }
        *blockBytes = bytes;
        return true;
    }

    bool coefficients(JpegCoefficients *out)
    {
        if (setjmp(m_errors.jump))
            return false;
        jvirt_barray_ptr *arrays = jpeg_read_coefficients(&m_cinfo);
        if (!arrays || m_errors.pub.num_warnings != 0)
            return false;
        const int n = m_cinfo.num_components;
        if (m_cinfo.progressive_mode) {
            for (int c = 0; c < n; ++c)
                for (int k = 0; k < DCTSIZE2; ++k)
                    if (m_cinfo.coef_bits[c][k] != 0)
                        return false;
        }
        append16(&out->layout, m_cinfo.image_width >> 16);
        append16(&out->layout, m_cinfo.image_width & 0xFFFF);
        append16(&out->layout, m_cinfo.image_height >> 16);
        append16(&out->layout, m_cinfo.image_height & 0xFFFF);
        append16(&out->layout, unsigned(m_cinfo.data_precision));
        append16(&out->layout, unsigned(m_cinfo.jpeg_color_space));
        append16(&out->layout, m_cinfo.saw_Adobe_marker ? 0x100u | m_cinfo.Adobe_transform : 0u);
        append16(&out->layout, unsigned(n));
        for (int c = 0; c < n; ++c) {
            jpeg_component_info &component = m_cinfo.comp_info[c];
            const JQUANT_TBL *table = component.quant_table;
            if (!table)
                return false;
            append16(&out->layout, unsigned(component.h_samp_factor));
            append16(&out->layout, unsigned(component.v_samp_factor));
            append16(&out->layout, component.width_in_blocks);
            append16(&out->layout, component.height_in_blocks);
            for (int k = 0; k < DCTSIZE2; ++k)
                append16(&out->layout, table->quantval[k]);
            // Blocks past the picture's edge fill a scan's last units only;
            // they are never shown and may differ.
            const std::size_t rowBytes = std::size_t(component.width_in_blocks) * sizeof(JBLOCK);
            for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
                JBLOCKARRAY blocks = m_cinfo.mem->access_virt_barray(
                    reinterpret_cast<j_common_ptr>(&m_cinfo), arrays[c], row, 1, FALSE);
                out->rows.emplace_back(reinterpret_cast<const char *>(blocks[0]), rowBytes);
            }
        }
        return true;
    }

private:
    const QByteArray m_file; // read from while the reader lives
    jpeg_decompress_struct m_cinfo{};
    ErrorManager m_errors{};
};

} // namespace

bool JpegCoefficients::sameAs(const JpegCoefficients &other) const
{
    if (layout != other.layout || rows.size() != other.rows.size())
        return false;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].second != other.rows[i].second ||
            std::memcmp(rows[i].first, other.rows[i].first, rows[i].second) != 0)
            return false;
    return true;
}

std::optional<JpegCoefficients> readJpegCoefficients(const QByteArray &file,
                                                     const std::function<bool(qint64)> &reserve)
{
    // The reader holds the blocks' memory; libjpeg keeps them in memory
    // (it has no backing store), so their rows stay where they are.
    auto reader = std::make_shared<Reader>(file);
    qint64 blockBytes = 0;
    if (!reader->header(&blockBytes) || !reserve(blockBytes))
        return std::nullopt;
    JpegCoefficients c;
    if (!reader->coefficients(&c))
        return std::nullopt;
    c.reader = std::move(reader);
    return c;
}

} // namespace tinsoke
