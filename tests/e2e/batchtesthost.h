#pragma once

// A run's surroundings for tests: the save method and tool availability as
// set, every progress call, report and command line recorded, and events
// handled while tools run as the window does.

#include "batch.h"

#include <QCoreApplication>
#include <QList>
#include <QSet>
#include <QStringList>

#include <tuple>

class TestBatchHost : public tinsoke::BatchHost {
public:
    int method = 0;
    QSet<tinsoke::Tool> unavailable;
    QList<std::tuple<int, int, int>> progress;
    QStringList passedOver;
    QStringList startFailures;
    QStringList lines;

    int saveMethod() override { return method; }
    bool toolAvailable(tinsoke::Tool tool) override { return !unavailable.contains(tool); }
    void showProgress(int minimum, int maximum, int position) override
    {
        progress.append({minimum, maximum, position});
    }
    void reportPassedOver(const QString &message) override { passedOver.append(message); }
    void reportStartFailure(const QString &message) override { startFailures.append(message); }
    void processPendingEvents() override { QCoreApplication::processEvents(); }
    void runTool(const QString &commandLine) override
    {
        lines.append(commandLine);
        tinsoke::BatchHost::runTool(commandLine);
    }
};
