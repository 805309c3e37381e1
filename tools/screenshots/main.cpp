// Renders the main window and each of its pages to PNG files, for the README
// and for looking at the layout without a display:
//   QT_QPA_PLATFORM=offscreen tinsoke-screenshots OUTPUT_FOLDER
// The window starts with a settings file of its own. Where Debian's
// optimizers are installed, a few sample pictures are run through them
// first, so that the list shows real results.
#include "appinfo.h"
#include "filelistmodel.h"
#include "programicon.h"
#include "programstyle.h"
#include "tform1.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

const char *const SamplePictures[] = {"夕焼け.png", "portrait.jpg", "地図 2026.png", "icon.png",
                                      "photo_01.JPG"};

void makeSample(const QString &path, int seed)
{
    QImage image(160 + seed * 40, 120, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, image.width(), image.height());
    g.setColorAt(0, QColor::fromHsv((seed * 70) % 360, 180, 220));
    g.setColorAt(1, QColor::fromHsv((seed * 70 + 120) % 360, 200, 90));
    p.fillRect(image.rect(), g);
    p.setBrush(Qt::white);
    p.drawEllipse(20 + seed * 10, 20, 50, 50);
    p.end();
    const bool png = path.endsWith(QStringLiteral(".png"));
    image.save(path, png ? "PNG" : "JPEG", png ? 100 : 95);
}

// Settings that tick the Debian optimizers that are installed; the others stay off.
QByteArray settingsWithDebianTools()
{
    const char *const sections[] = {"Jpegtran", "Jpegoptim", "AdvPNG",     "OptiPNG",
                                    "PNGCrush", "PNGOut",    "PNGRewrite", "cPNGC"};
    const char *const programs[] = {"jpegtran", "jpegoptim", "advpng", "optipng",
                                    "pngcrush", nullptr,     nullptr,  nullptr};
    // Jpegtran optimizes and keeps every marker; Jpegoptim strips nothing.
    const char *const extras[] = {
        "Optimize=Yes\r\nCopyMode=2\r\n", "Strip=No\r\n", "", "", "", "", "", ""};
    // Overwritten, the originals to the Trash: 元に戻す shows ready.
    QByteArray text = "[Option]\r\nSaveMode=0\r\nOriginals=Trash\r\n";
    for (int i = 0; i < 8; ++i) {
        const QByteArray path = programs[i] ? QByteArray("/usr/bin/") + programs[i] : QByteArray();
        const bool use = !path.isEmpty() && QFileInfo::exists(QString::fromLatin1(path));
        text += QByteArray("[") + sections[i] + "]\r\nUse=" + (use ? "Yes" : "No") +
                "\r\nPath=" + (use ? path : QByteArray()) + "\r\nUseParam=No\r\n" + extras[i];
    }
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(tinsoke::applicationTitle());
    QApplication::setWindowIcon(programIcon());
    installProgramStyle();

    const QStringList args = QApplication::arguments();
    const QDir out(args.size() > 1 ? args.at(1) : QStringLiteral("."));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        QTextStream(stderr) << "cannot create " << out.path() << '\n';
        return 1;
    }

    const QTemporaryDir work;
    // The originals go to a Trash of the run's own, never the user's.
    qputenv("XDG_DATA_HOME", QFile::encodeName(work.filePath(QStringLiteral("data"))));
    const QString ini = work.filePath(QStringLiteral("pelmora-tinsoke.ini"));
    QFile settings(ini);
    if (settings.open(QIODevice::WriteOnly))
        settings.write(settingsWithDebianTools());
    settings.close();
    QStringList pictures;
    for (int i = 0; i < int(std::size(SamplePictures)); ++i) {
        pictures.append(
            work.filePath(QStringLiteral("pictures/") + QString::fromUtf8(SamplePictures[i])));
        QDir().mkpath(QFileInfo(pictures.last()).absolutePath());
        makeSample(pictures.last(), i);
    }

    TForm1 form(ini);
    form.show();
    QApplication::processEvents();
    form.fileList().addFiles(pictures);
    auto *run = form.findChild<QPushButton *>(QStringLiteral("Button1"));
    if (run->isEnabled()) {
        run->click(); // a real run, through the same handler as a user's press
        QEventLoop wait;
        while (form.runInProgress())
            wait.processEvents(QEventLoop::WaitForMoreEvents, 100);
    }

    auto *pages = form.findChild<QTabWidget *>(QStringLiteral("PageControl1"));
    for (int i = pages->count() - 1; i >= 0; --i) {
        pages->setCurrentIndex(i);
        QApplication::processEvents();
        const QString name =
            QStringLiteral("page-%1-%2.png").arg(i + 1).arg(pages->widget(i)->objectName());
        if (!form.grab().save(out.filePath(name))) {
            QTextStream(stderr) << "cannot write " << out.filePath(name) << '\n';
            return 1;
        }
    }
    QTextStream(stdout) << "wrote " << pages->count() << " pages to " << out.path() << '\n';
    return 0;
}
