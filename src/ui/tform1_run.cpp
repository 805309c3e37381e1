// The run button: every listed file through the ticked tools of its chain,
// several at once, while the window goes on as usual; the stop button.
#include "tform1.h"
#include "ui_mainwindow.h"

#include "appinfo.h"
#include "extratoolspage.h"
#include "filelistmodel.h"
#include "finishedfiles.h"
#include "intake.h"
#include "messages.h"
#include "picturecheck.h"
#include "radiogroup.h"
#include "runhost.h"
#include "runtexts.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <utility>

// Ticks, programs and options as they are when the run starts, in tool
// order. A tool whose tick is greyed (its program was not found) does not run.
tinsoke::RunPlan TForm1::takeRunPlan() const
{
    tinsoke::SettingValues values = controlValues();
    const auto tools = toolControls();
    for (const tinsoke::Tool tool : tinsoke::AllTools) {
        const QCheckBox *tick = tools.at(static_cast<std::size_t>(tool)).tick;
        valueOf(values, tinsoke::toolUseSetting(tool)) = tick->isChecked() && tick->isEnabled();
    }
    return tinsoke::runPlanFromSettings(values, m_extraPage->tools());
}

void TForm1::Button1Click()
{
    if (m_runInProgress)
        return; // one run at a time; the running one keeps its progress
    // A ticked tool of the user's own that cannot run is told before anything
    // runs, as a built-in tool's greyed tick tells it.
    const QStringList unusable = tinsoke::unusableTickedTools(m_extraPage->tools());
    if (!unusable.isEmpty()) {
        messages::show(this, tinsoke::applicationTitle(),
                       unusable.join(u'\n') +
                           QStringLiteral("\n\n直すか、チェックを外してから実行してください。"),
                       QMessageBox::Warning);
        return;
    }
    const int rowCount = m_listModel->rowCount();
    ShowProgress(0, rowCount, 0);
    if (rowCount == 0 || !beginRun())
        return; // nothing to do
    QList<tinsoke::RowTask> rows;
    rows.reserve(rowCount);
    for (int i = 0; i < rowCount; ++i) {
        const tinsoke::TLVData record = m_listModel->ReadRow(i);
        rows.append({i, record.Path, record.FileName});
    }
    const tinsoke::RunPlan plan = takeRunPlan();
    for (const tinsoke::ImageKind kind : {tinsoke::ImageKind::Jpeg, tinsoke::ImageKind::Png}) {
        QList<int> &columns = m_chainColumns.at(static_cast<std::size_t>(kind));
        columns.clear();
        for (const tinsoke::ChainStep &step : tinsoke::chainSteps(plan, kind))
            columns.append(step.listColumn);
    }
    // 記憶済みも処理する holds for this run only; the memory learns either way.
    m_engine = tinsoke::RunHost(IniFilePath, tinsoke::readFactsForRun, tinsoke::checkPictureChange)
                   .engine(plan, std::move(rows), ui->CheckBox_Force->isChecked());
    ui->CheckBox_Force->setChecked(false);
    connect(m_engine.get(), &tinsoke::RunEngine::rowFinished, this, &TForm1::runRowFinished);
    connect(m_engine.get(), &tinsoke::RunEngine::finished, this, &TForm1::runFinished);
    connect(ui->Button_Stop, &QPushButton::clicked, this, &TForm1::stopRun, Qt::UniqueConnection);
    setStatusText(tinsoke::runningStatus(0, rowCount));
    m_engine->start();
}

void TForm1::stopRun()
{
    if (m_engine)
        m_engine->stop();
}

// Short tools finish rows faster than anyone reads them: the list, the bar
// and the status text take what has finished a few times a second, in one
// change each, rather than once a row.
void TForm1::runRowFinished(const tinsoke::RowResult &result)
{
    m_rowsToShow.append(result);
    if (!m_showRowsTimer) {
        m_showRowsTimer = new QTimer(this);
        m_showRowsTimer->setSingleShot(true);
        m_showRowsTimer->setInterval(50);
        connect(m_showRowsTimer, &QTimer::timeout, this, &TForm1::showFinishedRows);
    }
    if (!m_showRowsTimer->isActive())
        m_showRowsTimer->start();
}

void TForm1::showFinishedRows()
{
    if (m_showRowsTimer)
        m_showRowsTimer->stop();
    m_listModel->applyResults(m_rowsToShow, m_chainColumns);
    m_rowsToShow.clear();
    if (m_engine) {
        ShowProgress(0, m_engine->rowCount(), m_engine->finishedRows());
        setStatusText(tinsoke::runningStatus(m_engine->finishedRows(), m_engine->rowCount()));
    }
}

void TForm1::runFinished()
{
    showFinishedRows();
    const tinsoke::RunSummary summary = m_engine->summary();
    const QString memoryProblem = m_engine->memoryProblem();
    // The engine goes once its signal has returned.
    m_engine.release()->deleteLater();
    ShowProgress(0, 1, 1);
    setStatusText(tinsoke::finishedStatus(summary));
    // The grouped problems in the box; what the tools printed under 詳細.
    const tinsoke::SplitReport report = tinsoke::splitReport(summary);
    QString text = report.summary;
    // Told once per run: the links the folder walks left out since the last one.
    if (const int links = std::exchange(m_linksPassedOver, 0))
        text = (text.isEmpty() ? QString() : text + QStringLiteral("\n\n")) +
               tinsoke::linksPassedOverText(links);
    if (!memoryProblem.isEmpty() && !std::exchange(m_memoryProblemTold, true))
        text = (text.isEmpty() ? QString() : text + QStringLiteral("\n\n")) + memoryProblem;
    findWayBack();
    endRun();
    if (!text.isEmpty() && isVisible())
        messages::show(this, tinsoke::applicationTitle(), text, QMessageBox::Warning,
                       report.details);
}

// Whether the memory holds a way back for the last run that overwrote; a
// memory that is not there yet is not made for the question.
void TForm1::findWayBack()
{
    m_canRevert =
        QFileInfo::exists(tinsoke::finishedFilesPath(IniFilePath)) &&
        !tinsoke::RunHost(IniFilePath, tinsoke::readPictureFacts, tinsoke::checkPictureChange)
             .memory()
             ->undoRecords()
             .empty();
    applyRunState();
}

void TForm1::Button_RevertClick()
{
    if (!m_canRevert || !beginRun())
        return;
    setStatusText(QStringLiteral("元に戻しています…"));
    const auto memory =
        tinsoke::RunHost(IniFilePath, tinsoke::readPictureFacts, tinsoke::checkPictureChange)
            .memory();
    m_revert = QThread::create([this, memory] {
        const std::vector<tinsoke::RevertOutcome> outcomes = tinsoke::revertOverwrites(*memory);
        const QString problem = memory->takeProblem();
        QMetaObject::invokeMethod(
            this, [this, outcomes, problem] { revertFinished(outcomes, problem); },
            Qt::QueuedConnection);
    });
    m_revert->start();
}

void TForm1::revertFinished(const std::vector<tinsoke::RevertOutcome> &outcomes,
                            const QString &memoryProblem)
{
    m_revert->wait();
    delete std::exchange(m_revert, nullptr);
    int back = 0;
    QStringList notBack;
    for (const tinsoke::RevertOutcome &o : outcomes) {
        if (o.kind == tinsoke::RevertOutcome::Kind::Reverted)
            ++back;
        else
            notBack << o.path + QStringLiteral(": ") + tinsoke::revertOutcomeText(o);
    }
    const QString status = QStringLiteral("%1 個のファイルを元に戻しました").arg(back);
    setStatusText(status);
    findWayBack();
    endRun();
    QString text = notBack.isEmpty()
                       ? QString()
                       : status + QStringLiteral("。戻さなかったファイル:\n") + notBack.join(u'\n');
    if (!memoryProblem.isEmpty())
        text = (text.isEmpty() ? QString() : text + QStringLiteral("\n\n")) + memoryProblem;
    if (!text.isEmpty() && isVisible())
        messages::show(this, tinsoke::applicationTitle(), text, QMessageBox::Warning);
}
