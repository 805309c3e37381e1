#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Every message box of the program goes through here, so that tests can
// answer it instead of a person: with a hook set, the hook is called in place
// of showing the modal box.
namespace messages {

using Hook = std::function<void(QWidget *parent, const QString &title, const QString &text,
                                QMessageBox::Icon icon)>;
// The same with the text behind the box's 詳細 button.
using DetailedHook = std::function<void(QWidget *parent, const QString &title, const QString &text,
                                        QMessageBox::Icon icon, const QString &details)>;

// A modal box with one OK button; details, when there are any, open under 詳細.
void show(QWidget *parent, const QString &title, const QString &text,
          QMessageBox::Icon icon = QMessageBox::NoIcon, const QString &details = QString());

// Replaces the modal box; an empty hook brings the real one back. A plain
// hook is not told the details.
void setHook(Hook hook);
void setDetailedHook(DetailedHook hook);

} // namespace messages
