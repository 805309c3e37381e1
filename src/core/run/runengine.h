#pragma once

#include "executeprocess.h"
#include "picturefacts.h"
#include "runplan.h"
#include "runreport.h"

#include <QList>
#include <QObject>
#include <QThreadPool>

#include <memory>

namespace tinsoke {

class FinishedFiles;
struct RunShared;

// Runs the listed files through their chains, several at once. Each row
// works on private copies in the run's own temporary folder; a tool's result
// is kept only when it passes the check of a whole, smaller, same picture,
// and the user's file is written once, verified, at the end of its row.
// Lives on the thread whose event loop drives it (the window's, or the
// command line's); tools run and files are read and written on worker threads.
class RunEngine : public QObject {
    Q_OBJECT

public:
    RunEngine(RunPlan plan, QList<RowTask> rows, PictureReader readFacts,
              PictureChangeCheck checkChange, QObject *parent = nullptr);
    ~RunEngine() override; // stops the run and waits for its threads

    // Files the memory knows finished for their chain are passed over; with
    // force none is, and the memory still learns. Set before start().
    void setMemory(std::shared_ptr<FinishedFiles> memory, bool force);
    // A watch's run: it takes rows until it is stopped, and tells when it is
    // idle instead of finishing. Set before start().
    void keepOpen();
    // Another way to start tools than the real one. Set before start().
    void setToolRunner(ToolRunner runner);
    void start();
    // More rows, numbered on from the last ones; taken while the run keeps open.
    void append(const QList<RowTask> &rows);
    // What went wrong with the memory, once; empty when nothing did.
    QString memoryProblem();
    // Ends every running tool at once; rows not finished stay as they were.
    void stop();
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    int finishedRows() const { return m_finishedRows; }
    const RunSummary &summary() const { return m_summary; }

Q_SIGNALS:
    void rowFinished(const tinsoke::RowResult &result);
    void finished();
    void idle(); // a run kept open has done every row it was given

private:
    void dispatch();
    void rowDone(const RowResult &result);
    void finishIfIdle();
    void prepare(); // the run's folders and save order, once there are rows

    RunPlan m_plan;
    QList<RowTask> m_rows;
    std::shared_ptr<RunShared> m_shared;
    QThreadPool m_pool;
    int m_next = 0;
    int m_inFlight = 0;
    int m_finishedRows = 0;
    bool m_started = false;
    bool m_open = false;
    bool m_prepared = false;
    bool m_stopping = false;
    bool m_finished = false;
    RunSummary m_summary;
};

} // namespace tinsoke
