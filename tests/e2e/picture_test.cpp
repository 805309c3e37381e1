// The whole picture through whole runs: tools that damage the file they
// read, animated PNGs, metadata chunks and markers, a turned photo, a
// colour profile, and bytes after the picture's end. Each case is a file a
// user has, and what the run must give back.
#include "metadata.h"
#include "optionwords.h"
#include "paths.h"
#include "picturecheck.h"
#include "pictures.h"
#include "runengine.h"
#include "runtexts.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QtTest>

#ifdef TINSOKE_TEST_LIBJPEG
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>
#endif

using namespace tinsoke;

namespace {

struct Finished {
    RowResult row;
    RunSummary summary;
};

Finished runOne(RunPlan plan, const QString &path, const PictureReader &read = readPictureFacts)
{
    RunEngine engine(std::move(plan), {{0, path, fileNameOf(path)}}, read, checkPictureChange);
    Finished f;
    QObject::connect(&engine, &RunEngine::rowFinished, [&](const RowResult &r) { f.row = r; });
    QEventLoop loop;
    QObject::connect(&engine, &RunEngine::finished, &loop, &QEventLoop::quit);
    engine.start();
    loop.exec();
    f.summary = engine.summary();
    return f;
}

using Tools = QList<QPair<Tool, QPair<QString, QStringList>>>; // slot, program, options

RunPlan planWith(const Tools &tools, int method = 0)
{
    RunPlan plan;
    plan.saveMethod = saveMethodOf(method);
    for (const auto &[tool, p] : tools)
        plan.tools.at(static_cast<std::size_t>(tool)) = toolPlan(tool, true, p.first, p.second);
    return plan;
}

// Where the second picture starts, as the first picture's index says.
qsizetype secondPictureAt(const QByteArray &jpeg)
{
    const qsizetype base = jpeg.indexOf(QByteArray("MPF\0MM", 6)) + 4;
    return base + read32(jpeg, base + 50 + 16 + 8);
}

// The length the first picture's own entry in the index gives.
qsizetype firstPictureLength(const QByteArray &jpeg)
{
    const qsizetype base = jpeg.indexOf(QByteArray("MPF\0MM", 6)) + 4;
    return read32(jpeg, base + 50 + 4);
}

// A picture through a real jpegtran; empty when it is not installed.
QByteArray throughJpegtran(const QString &folder, const QStringList &words, const QByteArray &in)
{
    const QString jpegtran = realTool("jpegtran");
    if (jpegtran.isEmpty())
        return {};
    writeBytes(folder + QStringLiteral("/in.jpg"), in);
    QProcess::execute(jpegtran, QStringList(words) << QStringLiteral("-outfile")
                                                   << folder + QStringLiteral("/out.jpg")
                                                   << folder + QStringLiteral("/in.jpg"));
    return bytesOf(folder + QStringLiteral("/out.jpg"));
}

// Qt's baseline JPEG of the picture, with segments put after its JFIF.
QByteArray jpegWith(const QImage &picture, const QByteArray &segments)
{
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG", 92);
    const qsizetype at = 2 + 4 + jpegSegments(encoded).first().data.size();
    return encoded.left(at) + segments + encoded.mid(at);
}

// A 1-bit grey picture, a checkerboard stored uncompressed, whose tRNS says
// 0x00FF: only its low bit counts, so grey level 1 is transparent.
QByteArray greyWithWideTransparency()
{
    QByteArray raw;
    for (int y = 0; y < 128; ++y) {
        raw += '\0';
        for (int x = 0; x < 16; ++x)
            raw += (y / 8) % 2 ? '\xF0' : '\x0F';
    }
    return pngFrom({{"IHDR", be32(128) + be32(128) + QByteArray("\x01\0\0\0\0", 5)},
                    {"tRNS", be16(0x00FF)},
                    {"IDAT", deflated(raw, 0)},
                    {"IEND", {}}});
}

#ifdef TINSOKE_TEST_LIBJPEG
// A JPEG that libjpeg writes into memory; its bytes are taken over once it
// has written the last (its buffer grows and moves as it writes).
class JpegInMemory {
public:
    JpegInMemory()
    {
        c.err = jpeg_std_error(&m_errors);
        jpeg_create_compress(&c);
        jpeg_mem_dest(&c, &m_out, &m_size);
    }
    JpegInMemory(const JpegInMemory &) = delete;
    JpegInMemory &operator=(const JpegInMemory &) = delete;

    QByteArray finished()
    {
        jpeg_finish_compress(&c);
        const QByteArray bytes(reinterpret_cast<const char *>(m_out), qsizetype(m_size));
        std::free(m_out);
        jpeg_destroy_compress(&c);
        return bytes;
    }

    jpeg_compress_struct c{};

private:
    jpeg_error_mgr m_errors{};
    unsigned char *m_out = nullptr;
    unsigned long m_size = 0;
};

// A CMYK JPEG, as a print workflow writes it: an Adobe marker, four components.
QByteArray cmykJpeg(const QImage &picture)
{
    JpegInMemory jpeg;
    jpeg_compress_struct &c = jpeg.c;
    c.image_width = JDIMENSION(picture.width());
    c.image_height = JDIMENSION(picture.height());
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(std::size_t(picture.width()) * 4);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            const int k = 255 - std::max({qRed(p), qGreen(p), qBlue(p)});
            JSAMPLE *s = &row[std::size_t(x) * 4];
            s[0] = JSAMPLE(255 - qRed(p));
            s[1] = JSAMPLE(255 - qGreen(p));
            s[2] = JSAMPLE(255 - qBlue(p));
            s[3] = JSAMPLE(k);
        }
        JSAMPROW line = row.data();
        jpeg_write_scanlines(&c, &line, 1);
    }
    return jpeg.finished();
}

// The JPEG with the DC coefficient of its last component's last block
// inside the picture raised, coded anew with optimized tables: a step of a
// few levels in the bottom right corner, where a comparison that stops
// short would miss it.
QByteArray withOneCoefficientChanged(const QByteArray &jpeg)
{
    jpeg_decompress_struct d{};
    jpeg_error_mgr inErrors{};
    d.err = jpeg_std_error(&inErrors);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char *>(jpeg.constData()),
                 static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d, TRUE);
    jvirt_barray_ptr *coefficients = jpeg_read_coefficients(&d);
    const int last = d.num_components - 1;
    const jpeg_component_info &component = d.comp_info[last];
    JBLOCKARRAY row =
        d.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&d), coefficients[last],
                                  component.height_in_blocks - 1, 1, TRUE);
    JCOEF &dc = row[0][component.width_in_blocks - 1][0];
    dc = JCOEF(dc + 3);
    JpegInMemory out;
    jpeg_copy_critical_parameters(&d, &out.c);
    out.c.optimize_coding = TRUE;
    jpeg_write_coefficients(&out.c, coefficients);
    const QByteArray bytes = out.finished();
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return bytes;
}
#endif

QString report(const Finished &f)
{
    return reportText(f.summary) + u'\n' + f.row.kept.join(u' ');
}

} // namespace

Q_DECLARE_METATYPE(Tools)
Q_DECLARE_METATYPE(QList<Chunk>)

class PictureTest : public QObject {
    Q_OBJECT

    QTemporaryDir temp; // the runs' TEMP
    QTemporaryDir work;
    QString at(const QString &relative) const { return work.filePath(relative); }

    static bool installed(const Tools &tools)
    {
        return std::all_of(tools.begin(), tools.end(),
                           [](const auto &t) { return QFileInfo(t.second.first).isExecutable(); });
    }

private Q_SLOTS:
    void initTestCase() { qputenv("TEMP", QFile::encodeName(temp.path())); }
    void cleanup() { QDir(at(QStringLiteral("files"))).removeRecursively(); }

    // A tool that empties or cuts the file it reads and leaves its own
    // result missing: the user's file stays byte-identical, and no broken
    // copy is left beside it.
    void toolThatDamagesItsInput_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QByteArray>("input"); // how the fake finds the file it reads
        QTest::addColumn<QByteArray>("damage");
        QTest::addColumn<int>("method");
        const struct {
            Tool slot;
            const char *name, *input;
        } slots[] = {{Tool::Jpegtran, "Jpegtran", "eval in=\\${$#}"},
                     {Tool::PNGCrush, "PNGCrush", "eval in=\\${$(($# - 1))}"},
                     {Tool::cPNGC, "cPNGC", "in=$1"}};
        for (const auto &s : slots)
            for (const char *damage : {"0", "300"})
                for (const int method : {0, 1})
                    QTest::addRow("%s %s %s", s.name, *damage == '0' ? "empties" : "cuts",
                                  method == 0 ? "in place" : "copy beside")
                        << int(s.slot) << QByteArray(s.input) << QByteArray(damage) << method;
    }
    void toolThatDamagesItsInput()
    {
        QFETCH(int, slot);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, damage);
        QFETCH(int, method);
        const Tool tool = static_cast<Tool>(slot);
        const bool jpeg = tool == Tool::Jpegtran;
        const QString path =
            at(jpeg ? QStringLiteral("files/a.jpg") : QStringLiteral("files/a.png"));
        const QImage picture = makePicture(320, 240, 5);
        writeBytes(path, jpeg ? phonePhoto(picture) : pngWith(picture, pngTextAndExif()));
        const QByteArray before = bytesOf(path);
        const ImageKind kind = jpeg ? ImageKind::Jpeg : ImageKind::Png;
        const PictureFacts facts = readPictureFacts(path, kind);
        const QString fake = fakeTool(at(QStringLiteral("fakes")), QStringLiteral("damage"),
                                      input + "; truncate -s " + damage + " \"$in\"");

        const Finished f = runOne(planWith({{tool, {fake, QStringList()}}}, method), path);

        QVERIFY2(bytesOf(path) == before, qPrintable(report(f)));
        const QString copy = withUnderscoreBeforeExtension(path);
        if (method == 1 && QFileInfo::exists(copy))
            QVERIFY2(samePicture(readPictureFacts(copy, kind), facts), qPrintable(report(f)));
    }

    // A 3-frame animation keeps its frames: each with its pixels, size,
    // place, delay, dispose and blend. OptiPNG keeps the animation, so its
    // saving stays.
    void animationKeepsEveryFrame_data()
    {
        QTest::addColumn<Tools>("tools");
        QTest::addColumn<QString>("saves"); // a tool whose saving is taken, if any
        QTest::newRow("AdvPNG") << Tools{{Tool::AdvPNG,
                                          {realTool("advpng"),
                                           {QStringLiteral("-z"), QStringLiteral("-4")}}}}
                                << QString();
        QTest::newRow("OptiPNG") << Tools{{Tool::OptiPNG,
                                           {realTool("optipng"), {QStringLiteral("-o2")}}}}
                                 << QStringLiteral("OptiPNG");
        QTest::newRow("PNGCrush") << Tools{{Tool::PNGCrush,
                                            {realTool("pngcrush"), pngCrushWords({})}}}
                                  << QString();
        QTest::newRow("all three")
            << Tools{{Tool::AdvPNG,
                      {realTool("advpng"), {QStringLiteral("-z"), QStringLiteral("-4")}}},
                     {Tool::OptiPNG, {realTool("optipng"), {QStringLiteral("-o2")}}},
                     {Tool::PNGCrush, {realTool("pngcrush"), pngCrushWords({})}}}
            << QStringLiteral("OptiPNG");
    }
    void animationKeepsEveryFrame()
    {
        QFETCH(Tools, tools);
        QFETCH(QString, saves);
        if (!installed(tools))
            QSKIP("the Debian optimizers are not installed");
        const QString path = at(QStringLiteral("files/moving.png"));
        writeBytes(path, threeFrameApng());
        const QByteArray before = bytesOf(path);
        const QList<Frame> frames = apngFrames(before);
        QCOMPARE(frames.size(), 3);

        const Finished f = runOne(planWith(tools), path);

        const QByteArray after = bytesOf(path);
        QCOMPARE(announcedFrames(after), 3);
        const QList<Frame> now = apngFrames(after);
        QCOMPARE(now.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(now.at(i).control.toHex(), frames.at(i).control.toHex());
            QVERIFY2(!now.at(i).image.isNull() && now.at(i).image == frames.at(i).image,
                     qPrintable(QStringLiteral("frame %1").arg(i)));
        }
        if (!saves.isEmpty()) {
            QVERIFY2(f.row.kept.contains(saves), qPrintable(report(f)));
            QVERIFY(after.size() < before.size());
        }
    }

    // Metadata chunks stay byte for byte with the pixels, also where the
    // tool drops them; AdvPNG's saving is still taken.
    void pngChunksStay_data()
    {
        QTest::addColumn<QList<Chunk>>("chunks");
        QTest::addColumn<Tools>("tools");
        QTest::addColumn<bool>("saves");
        const Tools adv{{Tool::AdvPNG, {realTool("advpng"), advPngWords({false, {}, 4})}}};
        QTest::newRow("text, XMP, pHYs, eXIf, tIME via AdvPNG") << pngTextAndExif() << adv << true;
        QTest::newRow("iCCP and text via AdvPNG")
            << (QList<Chunk>{iccpChunk()} + pngTextAndExif()) << adv << true;
        QTest::newRow("layers via AdvPNG") << QList<Chunk>{layersChunk()} << adv << true;
        QTest::newRow("layers via PNGCrush -rem alla")
            << QList<Chunk>{layersChunk()}
            << Tools{{Tool::PNGCrush, {realTool("pngcrush"), pngCrushWords({})}}} << false;
    }
    void pngChunksStay()
    {
        QFETCH(QList<Chunk>, chunks);
        QFETCH(Tools, tools);
        QFETCH(bool, saves);
        if (!installed(tools))
            QSKIP("the Debian optimizers are not installed");
        const QString path = at(QStringLiteral("files/meta.png"));
        QImage picture = makePicture(400, 300, 3);
        picture.setColorSpace(QColorSpace());
        writeBytes(path, pngWith(picture, chunks));
        const QByteArray before = bytesOf(path);
        const PictureFacts facts = readPictureFacts(path, ImageKind::Png);
        QVERIFY(facts.readable);

        const Finished f = runOne(planWith(tools), path);

        const QByteArray after = bytesOf(path);
        const QList<Chunk> kept = metadataChunks(after);
        for (const Chunk &c : metadataChunks(before))
            QVERIFY2(kept.contains(c), c.type.constData());
        QCOMPARE(kept.size(), metadataChunks(before).size());
        QVERIFY(samePicture(readPictureFacts(path, ImageKind::Png), facts));
        if (saves) {
            QVERIFY2(f.row.kept.contains(QStringLiteral("AdvPNG")), qPrintable(report(f)));
            QVERIFY(after.size() < before.size());
        }
    }

    // A phone photo (Orientation=6, Artist, DateTimeOriginal, an Adobe RGB
    // profile, a comment): shown the same way whatever markers the options
    // drop; with すべて every marker stays; the profile survives 削除.
    void jpegMarkersStay_data()
    {
        QTest::addColumn<Tools>("tools");
        QTest::addColumn<bool>("allMarkers");
        QTest::addColumn<bool>("profile");
        const QString jpegtran = realTool("jpegtran");
        const auto copying = [&](int markerCopy) {
            return QPair<Tool, QPair<QString, QStringList>>{
                Tool::Jpegtran,
                {jpegtran, jpegtranWords({true, false, false, false, markerCopy, 0})}};
        };
        QTest::newRow("削除 and Jpegoptim strip all")
            << Tools{copying(0),
                     {Tool::Jpegoptim, {realTool("jpegoptim"), jpegoptimWords({true, 0})}}}
            << false << false;
        QTest::newRow("削除") << Tools{copying(0)} << false << true;
        QTest::newRow("すべて") << Tools{copying(2)} << true << true;
    }
    void jpegMarkersStay()
    {
        QFETCH(Tools, tools);
        QFETCH(bool, allMarkers);
        QFETCH(bool, profile);
        if (!installed(tools))
            QSKIP("the Debian optimizers are not installed");
        const QString path = at(QStringLiteral("files/photo.jpg"));
        writeBytes(path, phonePhoto(makePicture(480, 320, 9)));
        const QByteArray before = bytesOf(path);
        const PictureFacts facts = readPictureFacts(path, ImageKind::Jpeg);
        QCOMPARE(jpegExif(before).orientation, 6);

        const Finished f = runOne(planWith(tools), path);

        const QByteArray after = bytesOf(path);
        QVERIFY2(after.size() < before.size(), qPrintable(report(f)));
        const Exif exif = jpegExif(after);
        QCOMPARE(exif.orientation, 6);
        if (allMarkers) {
            QCOMPARE(exif.artist, QByteArray("Kiri Onoda"));
            QCOMPARE(exif.taken, QByteArray("2026:05:17 09:30:12"));
            const auto markers = [](const QByteArray &jpeg) {
                QList<QByteArray> m;
                for (const Segment &s : jpegSegments(jpeg))
                    if ((s.marker >= 0xE0 && s.marker <= 0xEF) || s.marker == 0xFE)
                        m << QByteArray(1, char(s.marker)) + s.data;
                return m;
            };
            QCOMPARE(markers(after), markers(before));
        }
        if (profile) {
            QCOMPARE(jpegIcc(after).toHex(), adobeRgbProfile().toHex());
            QVERIFY(samePicture(readPictureFacts(path, ImageKind::Jpeg), facts));
        }
    }

    // A turn, a flip or grey is taken only when the result shows the
    // original changed as asked: jpegtran's own, trimmed where it must be,
    // and not a tool that turns the other way or ignores the grey.
    void changesAreChecked_data()
    {
        QTest::addColumn<int>("transform"); // as the page numbers it
        QTest::addColumn<bool>("grayscale");
        QTest::addColumn<bool>("trim");
        QTest::addColumn<QByteArray>("instead"); // what a fake does instead, if any
        QTest::addColumn<QString>("refused");    // the reason, when refused
        QTest::newRow("90° trimmed") << 3 << false << true << QByteArray() << QString();
        QTest::newRow("transverse trimmed") << 7 << false << true << QByteArray() << QString();
        QTest::newRow("grey") << 0 << true << false << QByteArray() << QString();
        QTest::newRow("90° not trimmed") << 3 << false << false << QByteArray()
                                         << QStringLiteral("端の画素を回転・反転できません");
        QTest::newRow("turns the other way")
            << 3 << false << true << QByteArray("-rotate 270 -trim")
            << QStringLiteral("画素が合いません");
        QTest::newRow("ignores grey")
            << 0 << true << false << QByteArray("-optimize") << QStringLiteral("画素が合いません");
    }
    void changesAreChecked()
    {
        QFETCH(int, transform);
        QFETCH(bool, grayscale);
        QFETCH(bool, trim);
        QFETCH(QByteArray, instead);
        QFETCH(QString, refused);
        QString jpegtran = realTool("jpegtran");
        if (jpegtran.isEmpty())
            QSKIP("the Debian optimizers are not installed");
        if (!instead.isEmpty())
            jpegtran = fakeTool(at(QStringLiteral("files/fake")), QStringLiteral("jpegtran"),
                                "eval in=\\${$#}; eval out=\\${$(($# - 1))}\nexec " +
                                    QFile::encodeName(jpegtran) + ' ' + instead +
                                    " -outfile \"$out\" \"$in\"");
        const QString path = at(QStringLiteral("files/odd.jpg"));
        QImage picture = makePicture(333, 251, 6);
        picture.setColorSpace(QColorSpace());
        QVERIFY(savePicture(picture, path));
        const QByteArray before = bytesOf(path);

        const Finished f = runOne(
            planWith({{Tool::Jpegtran,
                       {jpegtran, jpegtranWords({true, false, grayscale, trim, 2, transform})}}}),
            path);

        if (!refused.isEmpty()) {
            QVERIFY2(reportText(f.summary).contains(refused), qPrintable(report(f)));
            // A result not used is no file that could not be done.
            QVERIFY2(reportText(f.summary).startsWith(QStringLiteral("確かめた結果、使わなかった")),
                     qPrintable(report(f)));
            QVERIFY(bytesOf(path) == before);
            return;
        }
        QVERIFY2(f.row.kept.contains(QStringLiteral("Jpegtran")), qPrintable(report(f)));
        QImage after(path);
        QVERIFY(after.isGrayscale() == grayscale);
        // Trimmed to whole blocks where the turn moves an edge, then turned.
        const QSize turned[] = {{333, 251}, {}, {}, {240, 333}, {}, {}, {}, {240, 320}};
        QCOMPARE(after.size(), turned[transform]);
    }

    // A JPEG as a run reads it, known by its coefficients: every coding of
    // one picture through a lossless jpegtran is taken (or is no smaller),
    // and shows the same pixels after; a tool that changes coefficients,
    // by coding the picture anew or by a single one, is refused.
    void jpegKnownByCoefficients_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("result"); // what a fake leaves; empty: the real jpegtran
        QTest::addColumn<bool>("refused");
        const QImage picture = makePicture(480, 320, 11);
        const QByteArray baseline = phonePhoto(picture);
        const QString made = at(QStringLiteral("made"));
        const auto through = [&](const QStringList &words) {
            return throughJpegtran(made, words, baseline);
        };
        QTest::newRow("baseline") << baseline << QByteArray() << false;
        QTest::newRow("progressive") << through({QStringLiteral("-progressive"),
                                                 QStringLiteral("-copy"), QStringLiteral("all")})
                                     << QByteArray() << false;
        QTest::newRow("arithmetic") << through({QStringLiteral("-arithmetic"),
                                                QStringLiteral("-copy"), QStringLiteral("all")})
                                    << QByteArray() << false;
        QTest::newRow("restart markers")
            << through({QStringLiteral("-restart"), QStringLiteral("1"), QStringLiteral("-copy"),
                        QStringLiteral("all")})
            << QByteArray() << false;
        QTest::newRow("grey") << phonePhoto(picture.convertToFormat(QImage::Format_Grayscale8))
                              << QByteArray() << false;
        const QByteArray odd = phonePhoto(makePicture(333, 251, 12));
        QTest::newRow("coded anew at quality 60")
            << odd << phonePhoto(makePicture(333, 251, 12), 60) << true;
#ifdef TINSOKE_TEST_LIBJPEG
        QTest::newRow("CMYK") << cmykJpeg(picture) << QByteArray() << false;
        QTest::newRow("one coefficient changed") << odd << withOneCoefficientChanged(odd) << true;
#endif
    }
    void jpegKnownByCoefficients()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, result);
        QFETCH(bool, refused);
        QString tool = realTool("jpegtran");
        if (tool.isEmpty() || input.isEmpty())
            QSKIP("the Debian optimizers are not installed");
        const QString path = at(QStringLiteral("files/c.jpg"));
        writeBytes(path, input);
        const PictureFacts facts = readPictureFacts(path, ImageKind::Jpeg);
        QVERIFY2(facts.readable, qPrintable(facts.why));
#ifdef TINSOKE_TEST_LIBJPEG
        // Known by its coefficients, not decoded.
        const PictureFacts kept = readFactsForRun(path, ImageKind::Jpeg);
        QVERIFY(kept.readable && kept.kept && kept.pixels.isEmpty());
#endif
        if (!result.isEmpty()) {
            QVERIFY(result.size() < input.size());
            writeBytes(at(QStringLiteral("fake/result.jpg")), result);
            tool = fakeTool(at(QStringLiteral("fake")), QStringLiteral("jpegtran"),
                            "eval out=\\${$(($# - 1))}; cat '" +
                                QFile::encodeName(at(QStringLiteral("fake/result.jpg"))) +
                                "' > \"$out\"");
        }

        const Finished f = runOne(
            planWith({{Tool::Jpegtran, {tool, jpegtranWords({true, false, false, false, 2, 0})}}}),
            path, readFactsForRun);

        if (refused) {
            QVERIFY2(reportText(f.summary).contains(QStringLiteral("画素が元の画像と異なりました")),
                     qPrintable(report(f)));
            QVERIFY(bytesOf(path) == input);
            return;
        }
        QVERIFY2(f.summary.problems.isEmpty(), qPrintable(report(f)));
        QVERIFY(samePicture(readPictureFacts(path, ImageKind::Jpeg), facts));
        if (QByteArray(QTest::currentDataTag()) == "baseline")
            QVERIFY2(f.row.kept.contains(QStringLiteral("Jpegtran")), qPrintable(report(f)));
    }

    // What follows the picture (a motion photo's video, bytes after IEND)
    // is there, exactly, at the end of the result.
    void bytesAfterThePictureStay_data()
    {
        QTest::addColumn<Tools>("tools");
        QTest::addColumn<bool>("jpeg");
        QTest::newRow("JPEG via Jpegtran")
            << Tools{{Tool::Jpegtran,
                      {realTool("jpegtran"), jpegtranWords({true, false, false, false, 0, 0})}}}
            << true;
        QTest::newRow("two joined JPEGs via Jpegtran")
            << Tools{{Tool::Jpegtran,
                      {realTool("jpegtran"), jpegtranWords({true, false, false, false, 0, 0})}}}
            << true;
        QTest::newRow("PNG via AdvPNG")
            << Tools{{Tool::AdvPNG, {realTool("advpng"), advPngWords({false, {}, 4})}}} << false;
        QTest::newRow("PNG via PNGCrush")
            << Tools{{Tool::PNGCrush, {realTool("pngcrush"), pngCrushWords({})}}} << false;
    }
    void bytesAfterThePictureStay()
    {
        QFETCH(Tools, tools);
        QFETCH(bool, jpeg);
        if (!installed(tools))
            QSKIP("the Debian optimizers are not installed");
        const QString path =
            at(jpeg ? QStringLiteral("files/motion.jpg") : QStringLiteral("files/tail.png"));
        QImage picture = makePicture(400, 300, 4);
        picture.setColorSpace(QColorSpace());
        const QByteArray trailer = jpeg ? QByteArray("\0\0\0\x18"
                                                     "ftypmp42",
                                                     12) +
                                              noise(50000, 1)
                                        : noise(20000, 2);
        const bool joined = QByteArray(QTest::currentDataTag()).startsWith("two");
        if (joined) {
            const QByteArray second = phonePhoto(makePicture(400, 300, 5));
            writeBytes(path, joinedPictures(phonePhoto(picture), second));
            QCOMPARE(bytesOf(path).mid(secondPictureAt(bytesOf(path))), second);
        } else {
            writeBytes(path, (jpeg ? phonePhoto(picture) : pngWith(picture)) + trailer);
        }
        const ImageKind kind = jpeg ? ImageKind::Jpeg : ImageKind::Png;
        const PictureFacts facts = readPictureFacts(path, kind);
        const auto tail = [&](const QByteArray &b) {
            return jpeg ? afterJpegEnd(b) : afterPngEnd(b);
        };
        const QByteArray before = bytesOf(path);
        const QByteArray kept = tail(before);
        QVERIFY(joined || kept == trailer);

        const Finished f = runOne(planWith(tools), path);

        const QByteArray after = bytesOf(path);
        QVERIFY2(after.size() < before.size() && tail(after) == kept, qPrintable(report(f)));
        if (joined) { // the index still finds the second picture, and tells the first's length
            QCOMPARE(after.mid(secondPictureAt(after)), kept);
            QCOMPARE(firstPictureLength(after), jpegEnd(after));
        }
        QVERIFY(samePicture(readPictureFacts(path, kind), facts));
    }

    // The picture's parts read as the formats define them: segments between
    // and after the scans stay byte for byte; an orientation stored as a
    // LONG, or only in XMP, still turns the picture after a strip, and an
    // entry cut off turns nothing; grey made transparent by the low bits of
    // its tRNS stays transparent.
    void partsAsTheFormatsDefineThem_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<Tools>("tools");
        QTest::addColumn<QByteArray>("kept"); // segments the result holds, byte for byte, once
        QTest::addColumn<int>("orientation"); // shown after the run; -1: not looked at
        QTest::addColumn<bool>("transparency");
        const QString jpegtran = realTool("jpegtran");
        const auto jpegtranCopying = [&](int markerCopy, bool progressive) {
            return Tools{
                {Tool::Jpegtran,
                 {jpegtran, jpegtranWords({true, progressive, false, false, markerCopy, 0})}}};
        };
        QImage picture = makePicture(320, 240, 8);
        picture.setColorSpace(QColorSpace());

        // Fill bytes before the segments, which the tools drop, so that the
        // result is smaller than a progressive input.
        const QByteArray progressive = throughJpegtran(
            at(QStringLiteral("made")), {QStringLiteral("-progressive")}, jpegWith(picture, {}));
        const QByteArray extra = QByteArray(30000, '\xFF') +
                                 jpegSegment(0xFE, "between the scans") +
                                 jpegSegment(0xEB, "an editor's note");
        const qsizetype secondScan =
            progressive.indexOf("\xFF\xDA", progressive.indexOf("\xFF\xDA") + 2);
        const QByteArray between =
            progressive.left(secondScan) + extra + progressive.mid(secondScan);
        const QByteArray afterLast = progressive.chopped(2) + extra + progressive.right(2);
        for (const bool preset : {false, true}) {
            const char *how = preset ? "the progressive preset" : "-copy all";
            QTest::addRow("COM and APP11 between scans via %s", how)
                << between << jpegtranCopying(2, preset) << extra.mid(30000) << -1 << false;
            QTest::addRow("COM and APP11 after the last scan via %s", how)
                << afterLast << jpegtranCopying(2, preset) << extra.mid(30000) << -1 << false;
        }

        const QByteArray exif("Exif\0\0", 6);
        QTest::newRow("LONG orientation, big-endian EXIF, -copy none")
            << jpegWith(picture, jpegSegment(0xE1, exif + longOrientationTiff(6)))
            << jpegtranCopying(0, false) << QByteArray() << 6 << false;
        QTest::newRow("LONG orientation, PNG eXIf, OptiPNG -strip all")
            << pngWith(picture, {{"eXIf", longOrientationTiff(3)}})
            << Tools{{Tool::OptiPNG,
                      {realTool("optipng"),
                       {QStringLiteral("-o1"), QStringLiteral("-strip"), QStringLiteral("all")}}}}
            << QByteArray() << 3 << false;
        QTest::newRow("orientation entry cut off, -copy none")
            << jpegWith(picture, jpegSegment(0xE1, exif + cutOrientationTiff(8)))
            << jpegtranCopying(0, false) << QByteArray() << 0 << false;

        const Tools crush{{Tool::PNGCrush, {realTool("pngcrush"), pngCrushWords({})}}};
        QTest::newRow("1-bit grey, tRNS 0x00FF, PNGCrush")
            << greyWithWideTransparency() << crush << QByteArray() << -1 << true;

        QTest::newRow("XMP-only orientation, PNGCrush -rem alla")
            << pngWith(picture, {{"iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) +
                                              xmpWithOrientation(3, false)}})
            << crush << QByteArray() << 3 << false;
        QTest::newRow("XMP-only orientation, JPEG -copy none")
            << jpegWith(picture,
                        jpegSegment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) +
                                              xmpWithOrientation(3, true)))
            << jpegtranCopying(0, false) << QByteArray() << 3 << false;
    }
    void partsAsTheFormatsDefineThem()
    {
        QFETCH(QByteArray, input);
        QFETCH(Tools, tools);
        QFETCH(QByteArray, kept);
        QFETCH(int, orientation);
        QFETCH(bool, transparency);
        if (!installed(tools) || input.isEmpty())
            QSKIP("the Debian optimizers are not installed");
        const bool png = input.startsWith(PngSignature);
        const QString path =
            at(png ? QStringLiteral("files/p.png") : QStringLiteral("files/p.jpg"));
        writeBytes(path, input);
        const ImageKind kind = png ? ImageKind::Png : ImageKind::Jpeg;
        const PictureFacts facts = readPictureFacts(path, kind);
        QVERIFY2(facts.readable, qPrintable(facts.why));

        const Finished f = runOne(planWith(tools), path);

        const QByteArray after = bytesOf(path);
        if (transparency) { // refused, or the transparency kept
            bool keyed = false;
            for (const Chunk &c : pngChunks(after))
                keyed = keyed || (c.type == "tRNS" && c.data.size() == 2 && (c.data[1] & 1));
            QVERIFY2(after == input || keyed, qPrintable(report(f)));
            return;
        }
        QVERIFY2(after.size() < input.size(), qPrintable(report(f)));
        QVERIFY(samePicture(readPictureFacts(path, kind), facts));
        for (qsizetype at = 0; at + 4 <= kept.size();) {
            const qsizetype length = 2 + ((uchar(kept[at + 2]) << 8) | uchar(kept[at + 3]));
            const QByteArray segment = kept.mid(at, length);
            QVERIFY2(after.count(segment) == 1,
                     qPrintable(QString::fromLatin1(segment.toHex()) + u'\n' + report(f)));
            at += length;
        }
        if (orientation >= 0)
            QCOMPARE(shownOrientation(after, png), orientation);
    }

    // A tool's result that breaks the PNG or APNG rules is refused, whatever
    // a decoder makes of it, and the user's file stays byte-identical.
    void brokenStructureIsRefused_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("result");
        QImage picture = makePicture(200, 150, 2);
        picture.setColorSpace(QColorSpace());
        const QByteArray still = pngWith(picture);
        QList<Chunk> smaller = pngChunks(pngWith(picture, {}, 0));
        const Chunk frameData{"fdAT", be32(0) + smaller.at(1).data};
        QList<Chunk> early = smaller, stray = smaller;
        early.prepend(frameData);
        stray.insert(stray.size() - 1, frameData);
        QTest::newRow("fdAT before IHDR") << still << pngFrom(early);
        QTest::newRow("fdAT in a still picture") << still << pngFrom(stray);
        QList<Chunk> shortControl = pngChunks(threeFrameApng(9));
        shortControl.insert(shortControl.size() - 1, {"fcTL", be32(6) + QByteArray(18, '\1')});
        QTest::newRow("fcTL of 22 bytes in an APNG") << threeFrameApng(0) << pngFrom(shortControl);
    }
    void brokenStructureIsRefused()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, result);
        QVERIFY(result.size() < input.size());
        const QString path = at(QStringLiteral("files/s.png"));
        writeBytes(path, input);
        writeBytes(at(QStringLiteral("broken/result.png")), result);
        const QString fake = fakeTool(
            at(QStringLiteral("fakes")), QStringLiteral("broken"),
            "eval out=\\${$#}; cat '" + QFile::encodeName(at(QStringLiteral("broken/result.png"))) +
                "' > \"$out\"");

        const Finished f = runOne(planWith({{Tool::PNGCrush, {fake, QStringList()}}}), path);

        QVERIFY2(reportText(f.summary).contains(QStringLiteral("PNGの構造が正しくありません")),
                 qPrintable(report(f)));
        QVERIFY(bytesOf(path) == input);
    }
};

QTEST_MAIN(PictureTest)
#include "picture_test.moc"
