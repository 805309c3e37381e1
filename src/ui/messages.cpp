#include "messages.h"

namespace messages {

namespace {

DetailedHook &currentHook()
{
    static DetailedHook hook;
    return hook;
}

} // namespace

void show(QWidget *parent, const QString &title, const QString &text, QMessageBox::Icon icon,
          const QString &details)
{
    if (currentHook()) {
        currentHook()(parent, title, text, icon, details);
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

void setHook(Hook hook)
{
    if (!hook) {
        currentHook() = nullptr;
        return;
    }
    currentHook() = [hook = std::move(hook)](QWidget *parent, const QString &title,
                                             const QString &text, QMessageBox::Icon icon,
                                             const QString &) {
        hook(parent, title, text, icon);
    };
}

void setDetailedHook(DetailedHook hook)
{
    currentHook() = std::move(hook);
}

} // namespace messages
