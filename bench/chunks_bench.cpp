// What keeping every chunk costs in bytes.
//   build/bench/tinsoke-bench-chunks [FILES] [JOBS]   (default 20 files, one job per core)
// Makes photo-like 900×650 PNGs that carry what cameras and editors write: a
// colour profile (Adobe RGB or sRGB in iCCP), tEXt, iTXt XMP, zTXt, pHYs,
// eXIf and tIME. Then, side by side for each file:
//   1. its bytes before;
//   2. after a run of the engine through AdvPNG, OptiPNG and PNGCrush with
//      their default options, every chunk kept;
//   3. after the same tools run directly on a copy, one after another,
//      dropping chunks as they do (advpng -z -2, optipng -o2 -strip all,
//      pngcrush -rem alla -l 9);
//   4. when zopflipng is installed, after the run of 2 with zopflipng added
//      as the user's own tool (every chunk kept).
// The Debian optimizers must be installed in /usr/bin.
#include "metadata.h"
#include "optionwords.h"
#include "paths.h"
#include "picturecheck.h"
#include "runengine.h"
#include "runtexts.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <map>

namespace {

QImage photo(int i)
{
    QImage image(900, 650, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 900, 650);
    g.setColorAt(0, QColor::fromHsv(i * 29 % 360, 180, 160));
    g.setColorAt(1, QColor::fromHsv(i * 53 % 360, 90, 240));
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    for (int k = 0; k < 14; ++k)
        p.drawEllipse(QRect(k * 60, k * 40, 180, 120));
    p.setFont(QFont(QStringLiteral("Sans"), 11));
    for (int y = 0; y < 650; y += 44)
        p.drawText(10, y + 16, QStringLiteral("picture %1, line %2 — 画像の最適化").arg(i).arg(y));
    p.end();
    QRandomGenerator random(static_cast<quint32>(i));
    for (int y = 260; y < 460; ++y) // a photo-like patch of sensor noise
        for (int x = 0; x < 520; ++x)
            image.setPixel(x, y, image.pixel(x, y) ^ (random.generate() & 0x0f0f0fu));
    return image;
}

QList<Chunk> metadataFor(int i)
{
    Chunk profile = iccpChunk();
    if (i % 2) // half of them sRGB, as many screenshots are
        profile = {"iCCP", QByteArray("sRGB\0\0", 6) +
                               deflated(QColorSpace(QColorSpace::SRgb).iccProfile())};
    return QList<Chunk>{profile} + pngTextAndExif();
}

qint64 sizeOf(const QString &path)
{
    return QFileInfo(path).size();
}

// The tools alone, each on the previous one's output, chunks dropped.
void runDirectly(const QString &path)
{
    const auto quiet = [](const QString &program, const QStringList &arguments) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, arguments);
        p.waitForFinished(-1);
    };
    quiet(QStringLiteral("/usr/bin/advpng"), {QStringLiteral("-z"), QStringLiteral("-2"), path});
    quiet(QStringLiteral("/usr/bin/optipng"),
          {QStringLiteral("-o2"), QStringLiteral("-strip"), QStringLiteral("all"), path});
    const QString out = path + QStringLiteral(".crushed");
    quiet(QStringLiteral("/usr/bin/pngcrush"),
          {QStringLiteral("-rem"), QStringLiteral("alla"), QStringLiteral("-l"),
           QStringLiteral("9"), path, out});
    if (QFileInfo(out).size() > 0 && QFileInfo(out).size() < QFileInfo(path).size()) {
        QFile::remove(path);
        QFile::rename(out, path);
    }
    QFile::remove(out);
}

QString percent(qint64 before, qint64 after)
{
    return QString::asprintf("%+.1f %%",
                             before ? 100.0 * double(after - before) / double(before) : 0.0);
}

} // namespace

int main(int argc, char *argv[])
{
    // Drawing the pictures needs fonts, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 20;
    const int jobs = argc > 2 ? std::atoi(argv[2]) : 0;
    for (const char *tool : {"/usr/bin/advpng", "/usr/bin/optipng", "/usr/bin/pngcrush"})
        if (!QFile::exists(QString::fromLatin1(tool))) {
            std::fprintf(stderr, "needs %s\n", tool);
            return 1;
        }
    QTemporaryDir dir;
    const QString kept = dir.filePath(QStringLiteral("kept"));
    const QString dropped = dir.filePath(QStringLiteral("dropped"));
    const QString zopfli = dir.filePath(QStringLiteral("zopfli"));
    const bool withZopfli = QFile::exists(QStringLiteral("/usr/bin/zopflipng"));
    QDir().mkpath(kept);
    QDir().mkpath(dropped);
    QDir().mkpath(zopfli);
    QStringList names;
    std::map<QString, qint64> before;
    for (int i = 0; i < files; ++i) {
        const QString name = QStringLiteral("p%1.png").arg(i, 3, 10, QLatin1Char('0'));
        const QByteArray png = pngWith(photo(i), metadataFor(i), 80);
        for (const QString &folder : {kept, dropped, zopfli}) {
            QFile f(folder + u'/' + name);
            if (!f.open(QIODevice::WriteOnly) || f.write(png) != png.size())
                return 1;
        }
        names << name;
        before[name] = png.size();
    }

    tinsoke::RunPlan plan;
    plan.jobs = jobs;
    const auto set = [&](tinsoke::Tool tool, const char *program, const QStringList &words) {
        plan.tools.at(static_cast<std::size_t>(tool)) =
            tinsoke::toolPlan(tool, true, QString::fromLatin1(program), words);
    };
    set(tinsoke::Tool::AdvPNG, "/usr/bin/advpng", tinsoke::advPngWords({false, {}, 2}));
    set(tinsoke::Tool::OptiPNG, "/usr/bin/optipng", tinsoke::optiPngWords({false, {}, 2}));
    set(tinsoke::Tool::PNGCrush, "/usr/bin/pngcrush", tinsoke::pngCrushWords({}));
    // The engine over one folder's files; what each file's run kept.
    const auto runEngine = [&](const tinsoke::RunPlan &with, const QString &folder) {
        QList<tinsoke::RowTask> rows;
        for (int i = 0; i < names.size(); ++i) {
            const QString path = folder + u'/' + names.at(i);
            rows.append({i, path, tinsoke::fileNameOf(path)});
        }
        std::map<QString, QStringList> keptBy;
        tinsoke::RunEngine engine(with, rows, tinsoke::readPictureFacts,
                                  tinsoke::checkPictureChange);
        QObject::connect(
            &engine, &tinsoke::RunEngine::rowFinished,
            [&](const tinsoke::RowResult &r) { keptBy[tinsoke::fileNameOf(r.path)] = r.kept; });
        QEventLoop loop;
        QObject::connect(&engine, &tinsoke::RunEngine::finished, &loop, &QEventLoop::quit);
        engine.start();
        loop.exec();
        if (!engine.summary().problems.isEmpty())
            std::fprintf(stderr, "%s\n\n", qPrintable(tinsoke::reportText(engine.summary())));
        return keptBy;
    };
    std::map<QString, QStringList> keptBy = runEngine(plan, kept);
    std::map<QString, QStringList> keptWithZopfli;
    if (withZopfli) {
        tinsoke::RunPlan more = plan;
        more.extras.append(tinsoke::extraToolPlan(
            {true, QStringLiteral("zopflipng"), tinsoke::ImageKind::Png,
             QStringLiteral("/usr/bin/zopflipng"),
             QStringLiteral("-y --keepchunks=tEXt,zTXt,iTXt,eXIf,pHYs,tIME,iCCP {in} {out}")}));
        keptWithZopfli = runEngine(more, zopfli);
    }
    for (const QString &name : names)
        runDirectly(dropped + u'/' + name);

    std::printf("%-10s %10s %12s %9s %12s %9s %12s %9s  %s\n", "file", "before", "chunks kept", "",
                "dropped", "", "+zopflipng", "", "kept by the run (+zopflipng)");
    qint64 total = 0, totalKept = 0, totalDropped = 0, totalZopfli = 0;
    for (const QString &name : names) {
        const qint64 b = before[name];
        const qint64 k = sizeOf(kept + u'/' + name);
        const qint64 d = sizeOf(dropped + u'/' + name);
        const qint64 z = sizeOf(zopfli + u'/' + name);
        total += b;
        totalKept += k;
        totalDropped += d;
        totalZopfli += z;
        std::printf("%-10s %10lld %12lld %9s %12lld %9s %12lld %9s  %s (%s)\n", qPrintable(name),
                    static_cast<long long>(b), static_cast<long long>(k), qPrintable(percent(b, k)),
                    static_cast<long long>(d), qPrintable(percent(b, d)), static_cast<long long>(z),
                    qPrintable(percent(b, z)), qPrintable(keptBy[name].join(u' ')),
                    qPrintable(keptWithZopfli[name].join(u' ')));
    }
    std::printf("%-10s %10lld %12lld %9s %12lld %9s %12lld %9s\n", "total",
                static_cast<long long>(total), static_cast<long long>(totalKept),
                qPrintable(percent(total, totalKept)), static_cast<long long>(totalDropped),
                qPrintable(percent(total, totalDropped)), static_cast<long long>(totalZopfli),
                qPrintable(percent(total, totalZopfli)));
    std::printf("\nsaved with every chunk kept: %s; with chunks dropped: %s\n",
                qPrintable(tinsoke::formatBytes(total - totalKept)),
                qPrintable(tinsoke::formatBytes(total - totalDropped)));
    if (withZopfli)
        std::printf("saved with zopflipng added, every chunk kept: %s\n",
                    qPrintable(tinsoke::formatBytes(total - totalZopfli)));
    return 0;
}
