#include "runengine.h"

#include "chainfingerprint.h"
#include "finishedfiles.h"
#include "paths.h"
#include "rowjob.h"

#include <QMetaObject>

#include <utility>

namespace tinsoke {

// ---------------------------------------------------------------------------
// The scheduler, on the thread that owns the engine

RunEngine::RunEngine(RunPlan plan, QList<RowTask> rows, PictureReader readFacts,
                     PictureChangeCheck checkChange, QObject *parent)
    : QObject(parent)
    , m_plan(std::move(plan))
    , m_rows(std::move(rows))
    , m_shared(std::make_shared<RunShared>())
{
    m_shared->plan = m_plan;
    m_shared->readFacts = std::move(readFacts);
    m_shared->checkChange = std::move(checkChange);
    m_pool.setMaxThreadCount(effectiveJobs(m_plan.jobs));
    m_pool.setExpiryTimeout(-1);
}

RunEngine::~RunEngine()
{
    m_shared->running.stopAll();
    m_pool.clear();
    m_pool.waitForDone();
}

void RunEngine::setMemory(std::shared_ptr<FinishedFiles> memory, bool force)
{
    if (m_started)
        return;
    m_shared->memory = std::move(memory);
    m_shared->forgetMemory = force;
}

QString RunEngine::memoryProblem()
{
    return m_shared->memory ? m_shared->memory->takeProblem() : QString();
}

void RunEngine::start()
{
    if (m_started)
        return;
    m_started = true;
    if (m_shared->memory) {
        for (const ImageKind kind : {ImageKind::Jpeg, ImageKind::Png})
            m_shared->chains.at(static_cast<std::size_t>(kind)) = chainFingerprint(m_plan, kind);
        m_shared->keepsWayBack = m_plan.saveMethod == SaveMethod::InPlace;
    }
    prepare();
    m_shared->saveOrder.plan(m_rows, m_plan.saveMethod);
    dispatch();
    // Even an empty run ends through the event loop, after start() has returned.
    QMetaObject::invokeMethod(this, &RunEngine::finishIfIdle, Qt::QueuedConnection);
}

void RunEngine::setToolRunner(ToolRunner runner)
{
    m_shared->runTool = std::move(runner);
}

void RunEngine::keepOpen()
{
    if (!m_started)
        m_open = true;
}

void RunEngine::prepare()
{
    if (m_prepared || m_rows.isEmpty())
        return;
    m_prepared = true;
    m_shared->folder = RunFolder::create(&m_shared->folderError);
    m_shared->resultFolder =
        std::make_unique<ResultFolder>(folderOf(m_rows.first().path) + ResultFolderName);
}

void RunEngine::append(const QList<RowTask> &rows)
{
    if (!m_open || m_stopping || m_finished || rows.isEmpty())
        return;
    // Rows already handed out are let go, so a watch's list does not grow.
    if (m_next > 256) {
        m_rows.erase(m_rows.begin(), m_rows.begin() + m_next);
        m_next = 0;
    }
    m_rows += rows;
    prepare();
    m_shared->saveOrder.plan(rows, m_plan.saveMethod);
    if (m_started)
        dispatch();
}

void RunEngine::stop()
{
    if (!m_started || m_finished || m_stopping)
        return;
    m_stopping = true;
    m_summary.stopped = true;
    m_shared->running.stopAll();
    finishIfIdle();
}

void RunEngine::dispatch()
{
    while (!m_stopping && m_next < m_rows.size() && m_inFlight < m_pool.maxThreadCount()) {
        const RowTask task = m_rows.at(m_next++);
        ++m_inFlight;
        std::shared_ptr<RunShared> shared = m_shared;
        RunEngine *engine = this; // outlives the job: its destructor waits for the pool
        m_pool.start([shared, task, engine] {
            const RowResult result = runRow(*shared, task);
            QMetaObject::invokeMethod(
                engine, [engine, result] { engine->rowDone(result); }, Qt::QueuedConnection);
        });
    }
}

void RunEngine::rowDone(const RowResult &result)
{
    --m_inFlight;
    ++m_finishedRows;
    m_summary.add(result);
    Q_EMIT rowFinished(result);
    dispatch();
    finishIfIdle();
}

void RunEngine::finishIfIdle()
{
    if (m_finished || m_inFlight > 0 || (m_next < m_rows.size() && !m_stopping))
        return;
    if (m_open && !m_stopping) {
        // What the memory learnt is shared with other runs before the watch waits.
        if (m_shared->memory)
            m_shared->memory->flush();
        Q_EMIT idle();
        return;
    }
    m_finished = true;
    // The run's temporary folder goes with everything in it, or is told.
    if (m_shared->folder) {
        const QString path = m_shared->folder->path();
        if (!m_shared->folder->remove())
            m_summary.folderLeft = path;
        m_shared->folder.reset();
    }
    if (m_shared->memory)
        m_shared->memory->flush();
    Q_EMIT finished();
}

} // namespace tinsoke
