#pragma once

#include "executeprocess.h"

class QWidget;

// Lets a tool run inside the window: a start failure is shown in a box over
// the window, and the window keeps handling its events while the tool runs.
class WindowToolRunHost : public tinsoke::ToolRunHost {
public:
    explicit WindowToolRunHost(QWidget *window)
        : m_window(window)
    {}

    void reportStartFailure(const QString &message) override;
    void processPendingEvents() override;

private:
    QWidget *m_window;
};
