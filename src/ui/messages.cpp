#include "messages.h"

namespace messages {

namespace {

Hook &currentHook()
{
    static Hook hook;
    return hook;
}

} // namespace

void show(QWidget *parent, const QString &title, const QString &text, QMessageBox::Icon icon)
{
    if (currentHook()) {
        currentHook()(parent, title, text, icon);
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void setHook(Hook hook)
{
    currentHook() = std::move(hook);
}

} // namespace messages
