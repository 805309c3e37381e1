#include "batch.h"

#include "commandline.h"
#include "filelistmodel.h"
#include "fileops.h"
#include "lvdata.h"
#include "paths.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QThread>
#include <QTime>

namespace tinsoke {

namespace {

const QString ResultFolderName = QStringLiteral("Result_Tinsoke");
constexpr int MaxReportedRows = 20;

struct PassedOver {
    QString path;
    QString reason;
};

// One run's state beyond the rows themselves.
class Run {
public:
    Run(FileListModel &list, BatchHost &host, RunSnapshot snapshot, int rowCount)
        : m_list(list)
        , m_host(host)
        , m_snapshot(std::move(snapshot))
        , m_rowCount(rowCount)
    {}

    void prepareResultFolder(const TLVData &firstRow)
    {
        m_resultFolder = folderOf(firstRow.Path) + ResultFolderName;
        if (m_host.saveMethod() == 2)
            createResultFolder();
    }

    void processRow(int i)
    {
        TLVData record = m_list.ReadRow(i);
        m_host.showProgress(0, m_rowCount, i);
        const QString working = workingPathFor(record);
        if (!working.isEmpty()) {
            if (fileExtension(working).toLower() == u".jpg")
                runChain(record, working, ImageKind::Jpeg);
            else if (fileExtension(record.FileName).toLower() == u".png")
                runChain(record, working, ImageKind::Png);
        }
        m_list.WriteRow(i, record);
    }

    QString report() const
    {
        if (m_passedOver.isEmpty())
            return QString();
        QString text = QStringLiteral("処理できなかったファイルがあります。");
        for (int i = 0; i < m_passedOver.size() && i < MaxReportedRows; ++i)
            text +=
                u'\n' + m_passedOver.at(i).path + QStringLiteral("：") + m_passedOver.at(i).reason;
        if (m_passedOver.size() > MaxReportedRows)
            text += QStringLiteral("\nほか %1 件").arg(m_passedOver.size() - MaxReportedRows);
        return text;
    }

private:
    void passOver(const QString &path, const QString &reason)
    {
        m_passedOver.append({path, reason});
    }

    // Tries the folder name, then with "_" appended while the name is taken.
    void createResultFolder()
    {
        m_resultFolderTried = true;
        for (;;) {
            if (QDir().mkdir(m_resultFolder)) {
                m_resultFolderReady = true;
                return;
            }
            if (!entryExists(m_resultFolder))
                return; // not a matter of the name: trying others cannot help
            m_resultFolder += u'_';
        }
    }

    // Copies the listed file to a free name, inserting "_" before the
    // extension while the name is taken. Empty when the copy cannot be made.
    QString copyToFreeName(const QString &source, QString target)
    {
        for (;;) {
            QString error;
            switch (copyToNewFile(source, target, &error)) {
            case CopyResult::Copied:
                return target;
            case CopyResult::TargetTaken:
                target = withUnderscoreBeforeExtension(target);
                break;
            case CopyResult::Failed:
                passOver(source, QStringLiteral("コピーを作成できません（%1）").arg(error));
                return QString();
            }
        }
    }

    QString workingPathFor(const TLVData &record)
    {
        switch (m_host.saveMethod()) {
        case 0:
            return record.Path;
        case 1:
            return copyToFreeName(record.Path, withUnderscoreBeforeExtension(record.Path));
        case 2:
            if (!m_resultFolderTried)
                createResultFolder();
            if (!m_resultFolderReady) {
                passOver(record.Path,
                         QStringLiteral("結果フォルダを作成できません（%1）").arg(m_resultFolder));
                return QString();
            }
            return copyToFreeName(record.Path, m_resultFolder + u'/' + fileNameOf(record.Path));
        default:
            passOver(record.Path, QStringLiteral("保存方法が選択されていません"));
            return QString();
        }
    }

    void runChain(TLVData &record, const QString &working, ImageKind kind)
    {
        for (const Tool tool : AllTools) {
            const ToolInfo &info = toolInfo(tool);
            const ToolSetting &setting = m_snapshot.at(static_cast<std::size_t>(tool));
            if (info.kind != kind || !setting.ticked || !m_host.toolAvailable(tool))
                continue;
            if (!runTool(tool, setting, working))
                continue; // did not run: its column keeps what it had
            record.field(2 + static_cast<int>(tool)) = QString::number(GetFileSizeBytes(working));
        }
    }

    bool runTool(Tool tool, const ToolSetting &setting, const QString &working)
    {
        const ToolInfo &info = toolInfo(tool);
        QString second;
        if (info.output == Output::BesideWithJpg) {
            second = working + QStringLiteral(".jpg");
            if (entryExists(second)) {
                // The tool would write over a file of the user's.
                passOver(working,
                         QStringLiteral(
                             "%1 の出力先に既にファイルがあるため、%1 を実行しませんでした（%2）")
                             .arg(QString::fromUtf16(info.name), second));
                return false;
            }
        } else if (info.output == Output::TemporaryFile) {
            second = MakeTempPath();
        }
        m_host.runTool(toolCommandLine(tool, setting.executable, setting.options, working, second));
        if (info.output == Output::InPlace)
            return true;
        QString error;
        if (KeepIfSmaller(working, second, info.kind, &error) == KeepOutcome::ReplaceFailed) {
            passOver(working,
                     QStringLiteral("%1 の結果を書き込めません（%2）。結果は %3 に残っています")
                         .arg(QString::fromUtf16(info.name), error, second));
        }
        return true;
    }

    FileListModel &m_list;
    BatchHost &m_host;
    const RunSnapshot m_snapshot;
    const int m_rowCount;
    QString m_resultFolder;
    bool m_resultFolderTried = false;
    bool m_resultFolderReady = false;
    QList<PassedOver> m_passedOver;
};

} // namespace

void runBatch(FileListModel &list, BatchHost &host,
              const std::function<RunSnapshot()> &takeSnapshot)
{
    const int rowCount = list.rowCount();
    host.showProgress(0, rowCount, 0);
    if (rowCount == 0)
        return;

    Run run(list, host, takeSnapshot(), rowCount);
    run.prepareResultFolder(list.ReadRow(0));
    for (int i = 0; i < rowCount; ++i)
        run.processRow(i);
    host.showProgress(0, 1, 1);

    const QString report = run.report();
    if (!report.isEmpty())
        host.reportPassedOver(report);
}

QString temporaryFolder()
{
    for (const char *name : {"TEMP", "TMPDIR"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
    return QDir::tempPath();
}

QString MakeTempPath()
{
    const QString folder = temporaryFolder();
    for (;;) {
        const QLocale locale = QLocale::system();
        QString name = u'/' + locale.toString(QDate::currentDate(), QLocale::ShortFormat) +
                       locale.toString(QTime::currentTime(), QLocale::LongFormat) +
                       QStringLiteral(".tmp");
        name.remove(u'/').remove(u':');
        const QString path = folder + u'/' + name;
        // Any entry counts as taken, a link included: a tool must not write through one.
        if (!entryExists(path) || QFileInfo(path).isDir())
            return path;
        QThread::msleep(50); // the name changes with the clock's second
    }
}

KeepOutcome KeepIfSmaller(const QString &workingPath, const QString &candidatePath, ImageKind kind,
                          QString *error)
{
    const QFileInfo working(workingPath);
    const QFileInfo candidate(candidatePath);
    if (!working.exists() || !candidate.exists() || candidate.isDir())
        return KeepOutcome::NothingToDo;
    const bool better = GetFileSizeBytes(candidatePath) < GetFileSizeBytes(workingPath) &&
                        looksLikeImage(candidatePath, kind);
    if (better && !replaceContent(workingPath, candidatePath, error))
        return KeepOutcome::ReplaceFailed; // the working file is as it was
    QFile::remove(candidatePath);
    return better ? KeepOutcome::Replaced : KeepOutcome::CandidateDropped;
}

} // namespace tinsoke
