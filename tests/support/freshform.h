#pragma once

// A window with a settings file of its own in a new folder: a first start
// when no text is given, otherwise a start over that settings text.

#include "tform1.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

class FreshForm {
public:
    explicit FreshForm(std::optional<QByteArray> settingsText = std::nullopt)
    {
        if (settingsText) {
            QFile f(iniPath());
            if (f.open(QIODevice::WriteOnly))
                f.write(*settingsText);
        }
        form = std::make_unique<TForm1>(iniPath());
    }

    QString iniPath() const { return m_dir.filePath(QStringLiteral("pelmora-tinsoke.ini")); }
    QString folder() const { return m_dir.path(); }

    QByteArray settingsText() const
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Ends the window as the program does at exit (its settings are saved)
    // and gives the settings file's text.
    QByteArray closeAndRead()
    {
        form.reset();
        return settingsText();
    }

    // Shows the window and waits until it is on screen.
    bool showAndWait() const
    {
        form->show();
        return QTest::qWaitForWindowExposed(form.get());
    }

    TForm1 *operator->() const { return form.get(); }
    TForm1 *get() const { return form.get(); }

    template <typename T = QWidget> T *find(const char *name) const
    {
        return form->findChild<T *>(QString::fromLatin1(name));
    }

private:
    QTemporaryDir m_dir;

public:
    std::unique_ptr<TForm1> form;
};
