#include "appinfo.h"
#include "programicon.h"
#include "programstyle.h"
#include "tform1.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>

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

    // A settings file of its own, so the pictures show a first start.
    const QTemporaryDir settings;
    TForm1 form(settings.filePath(QStringLiteral("pelmora-tinsoke.ini")));
    form.show();
    QApplication::processEvents();

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
