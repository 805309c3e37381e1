#include "appinfo.h"
#include "programicon.h"
#include "programstyle.h"
#include "singleinstance.h"
#include "tform1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // A second copy leaves before it touches the window system: no window, no message.
    const tinsoke::SingleInstanceGuard guard(tinsoke::singleInstanceName());
    if (guard.anotherCopyRuns())
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(tinsoke::applicationTitle());
    QApplication::setWindowIcon(programIcon());
    installProgramStyle();

    TForm1 form;
    form.show();
    QApplication::exec();
    return 0;
}
