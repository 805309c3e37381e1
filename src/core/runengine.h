#pragma once

#include "executeprocess.h"
#include "extratools.h"
#include "picturefacts.h"
#include "tools.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <array>
#include <memory>
#include <optional>

namespace tinsoke {

// One tool as a run uses it, taken once when the run starts.
struct ToolPlan {
    bool use = false;  // ticked, and its program was found
    QString program;   // as the user named it
    QStringList words; // the same, split once into arguments
    PictureAllowances allow;
};

// A tool of the user's own as a run uses it: after the built-in tools of its
// kind, in the user's order. Its words still hold {in} and {out}.
struct ExtraToolPlan {
    QString name;
    ImageKind kind = ImageKind::Png;
    ToolPlan plan;
};

struct RunPlan {
    std::array<ToolPlan, ToolCount> tools; // in tool order
    QList<ExtraToolPlan> extras;           // the user's own tools, in their order
    int saveMethod = 0; // 0 in place, 1 a copy beside, 2 the result folder, -1 none
    int jobs = 0;       // rows at once; 0 one per core
};

// A tool's plan from its tick, program and option string.
ToolPlan toolPlan(Tool tool, bool use, const QString &program, const QString &options);

// A user's tool's plan; one that cannot run as it stands is not used.
ExtraToolPlan extraToolPlan(const ExtraTool &tool);

// A whole plan from the settings file's values and the user's own tools, as
// the command line uses it.
RunPlan runPlanFromSettings(const SettingValues &values, const QList<ExtraTool> &extras = {});

// How many rows run at once for a Jobs value: 0 means one per core.
int effectiveJobs(int jobs);

// The chain a listed file goes through: JPEG by its path's extension (.jpg,
// .jpeg), PNG by its caption's (.png); none for anything else.
std::optional<ImageKind> chainFor(const QString &path, const QString &fileName);

// One listed file handed to a run.
struct RowTask {
    int row = 0;
    QString path;     // as listed
    QString fileName; // the row's caption
};

// Something that went wrong with a file, grouped by its reason in the report.
struct RunProblem {
    enum class Kind {
        PassedOver, // nothing of the file was saved
        ToolFailed, // a tool failed on it; the file went on without that step
        NotStarted, // a tool could not be started at all
        Refused,    // a tool's result was not used; the file was processed
    };
    QString reason;
    QString path;
    QString output; // what a failing tool printed, if anything
    Kind kind = Kind::ToolFailed;
};

struct RowResult {
    enum class Outcome {
        Done,       // went through its chain; its result (or its unchanged copy) is saved
        PassedOver, // nothing of it was saved; problems say why
        Stopped,    // the run was stopped: the file is as it was
    };
    int row = 0;
    QString path;
    Outcome outcome = Outcome::Done;
    std::array<std::optional<qint64>, ToolCount> columns; // the size after each tool that ran
    QList<std::optional<qint64>> extraColumns;            // the same for the user's tools, in order
    qint64 before = 0;                                    // the file's size when its turn came
    qint64 after = 0;                                     // the size of what was saved
    QString savedAs;                                      // where the result went
    QStringList kept;                                     // the tools whose result was kept
    QList<RunProblem> problems;
};

// What a run did, for the status bar, the report and the command line.
struct RunSummary {
    int done = 0;
    int passedOver = 0;
    qint64 before = 0;
    qint64 after = 0;
    bool stopped = false;
    QList<RunProblem> problems;

    void add(const RowResult &row);
    // The problems grouped by reason, with counts, for one message at the end.
    QString reportText() const;
    // The same for a box whose details open on request: the grouped problems
    // without the tools' words, and everything the tools printed, file by file.
    struct Report {
        QString summary;
        QString details;
    };
    Report splitReport() const;
};

// The status bar's texts: "n / N 件" during a run; after it, the files
// done, the bytes before and after and the share saved.
QString runningStatus(int done, int total);
QString finishedStatus(const RunSummary &summary);
// A byte count for people: "35.4 MB".
QString formatBytes(qint64 bytes);

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

    void start();
    // Ends every running tool at once; rows not finished stay as they were.
    void stop();
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    int finishedRows() const { return m_finishedRows; }
    const RunSummary &summary() const { return m_summary; }

Q_SIGNALS:
    void rowFinished(const tinsoke::RowResult &result);
    void finished();

public:
    // What the row jobs on the worker threads share.
    struct Shared;

private:
    void dispatch();
    void rowDone(const RowResult &result);
    void finishIfIdle();

    RunPlan m_plan;
    QList<RowTask> m_rows;
    std::shared_ptr<Shared> m_shared;
    QThreadPool m_pool;
    int m_next = 0;
    int m_inFlight = 0;
    int m_finishedRows = 0;
    bool m_started = false;
    bool m_stopping = false;
    bool m_finished = false;
    RunSummary m_summary;
};

} // namespace tinsoke
