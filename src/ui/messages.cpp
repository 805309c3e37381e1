#include "messages.h"

namespace messages {

namespace {

Hook &currentHook()
{
    static Hook hook;
    return hook;
}

} // namespace

void show(QWidget *parent, const QString &title, const QString &text, QMessageBox::Icon icon,
          const QString &details)
{
    if (currentHook()) {
        currentHook()(parent, title, text, icon);
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

void setHook(Hook hook)
{
    currentHook() = std::move(hook);
}

} // namespace messages
