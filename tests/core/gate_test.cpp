// The gate's decisions as data: what a tool's result must be to take the
// working copy's place, and what is put back when it does.
#include "metadata.h"
#include "picturecheck.h"
#include "pictureparts.h"
#include "resultcheck.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <functional>
#include <gtest/gtest.h>

using namespace tinsoke;

namespace {

void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray bytesAt(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QImage picture()
{
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 5, (x * y) & 255));
    return image;
}

struct Row {
    const char *name;
    // The tool's result at the path, made from the original's bytes.
    std::function<void(const QString &result, const QByteArray &original)> make;
    PictureAllowances allow;
    bool accepted;
    bool notSmaller;
    RunProblem::Reason reason; // when neither
};

} // namespace

TEST(Gate, TakesOnlyAWholeSmallerSamePicture)
{
    QTemporaryDir dir;
    const QString working = dir.filePath(QStringLiteral("image.png"));
    const QByteArray original = pngWith(picture(), pngTextAndExif(), 100);
    write(working, original);
    const PictureFacts facts = readPictureFacts(working, ImageKind::Png);
    ASSERT_TRUE(facts.readable);

    QImage changed = picture();
    changed.setPixel(3, 3, qRgb(1, 2, 3));
    PictureAllowances strip;
    strip.allMetadata = true;
    const RunProblem::Reason none = RunProblem::Reason::NoResult;
    const Row rows[] = {
        {"smaller, its chunks dropped",
         [](const QString &r, const QByteArray &) { write(r, pngWith(picture(), {}, 0)); },
         {},
         true,
         false,
         none},
        {"no smaller",
         [](const QString &r, const QByteArray &o) { write(r, o + QByteArray(16, '\0')); },
         {},
         false,
         true,
         none},
        {"none at all",
         [](const QString &, const QByteArray &) {},
         {},
         false,
         false,
         RunProblem::Reason::NoResult},
        {"a folder",
         [](const QString &r, const QByteArray &) { QDir().mkdir(r); },
         {},
         false,
         false,
         RunProblem::Reason::ResultNotRegular},
        {"cut short: no whole PNG structure",
         [](const QString &r, const QByteArray &o) { write(r, o.left(o.size() / 2)); },
         {},
         false,
         false,
         RunProblem::Reason::PartsNotKept},
        {"one pixel changed",
         [&](const QString &r, const QByteArray &) { write(r, pngWith(changed, {}, 0)); }, strip,
         false, false, RunProblem::Reason::PixelsChanged},
    };
    const PictureReader read = readPictureFacts; // the gate keeps them by reference
    const PictureChangeCheck checkChange = checkPictureChange;
    int number = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Gate gate(read, checkChange, ImageKind::Png, facts, pictureParts(original, ImageKind::Png));
        const QString result = dir.filePath(QStringLiteral("result%1.png").arg(++number));
        const QString ready = dir.filePath(QStringLiteral("ready%1.png").arg(number));
        row.make(result, original);
        const Verdict v = gate.judge(working, result, ready, row.allow);
        EXPECT_EQ(v.accepted, row.accepted);
        EXPECT_EQ(v.notSmaller, row.notSmaller);
        if (!row.accepted && !row.notSmaller) {
            EXPECT_EQ(v.why.reason, row.reason);
        }
        if (v.accepted) {
            // What the tool dropped is put back, and the result stays smaller.
            const QByteArray kept = bytesAt(ready);
            EXPECT_EQ(metadataChunks(kept), metadataChunks(original));
            EXPECT_LT(kept.size(), original.size());
        }
    }
}
