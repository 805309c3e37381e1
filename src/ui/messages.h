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

// A modal box with one OK button; details, when there are any, open under 詳細.
void show(QWidget *parent, const QString &title, const QString &text,
          QMessageBox::Icon icon = QMessageBox::NoIcon, const QString &details = QString());

// Replaces the modal box; an empty hook brings the real one back. The hook
// is not told the details.
void setHook(Hook hook);

} // namespace messages
