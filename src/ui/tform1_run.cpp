// The run button: every listed file through the ticked tools of its chain.
#include "tform1.h"
#include "ui_mainwindow.h"

#include "appinfo.h"
#include "batch.h"
#include "filelistmodel.h"
#include "messages.h"
#include "radiogroup.h"
#include "windowtoolrunhost.h"

#include <QCheckBox>
#include <QLineEdit>

namespace {

// The run's view of the window: the save method and the tools' availability
// as they are at each row, the progress bar, and the messages.
class WindowBatchHost : public tinsoke::BatchHost {
public:
    WindowBatchHost(TForm1 *form, const RadioGroup *saveMethod,
                    std::array<const QCheckBox *, 8> ticks, tinsoke::ToolRunHost &toolHost)
        : m_form(form)
        , m_saveMethod(saveMethod)
        , m_ticks(ticks)
        , m_toolHost(toolHost)
    {}

    int saveMethod() override { return m_saveMethod->itemIndex(); }
    bool toolAvailable(tinsoke::Tool tool) override
    {
        return m_ticks.at(static_cast<std::size_t>(tool))->isEnabled();
    }
    void showProgress(int minimum, int maximum, int position) override
    {
        m_form->ShowProgress(minimum, maximum, position);
    }
    void reportPassedOver(const QString &message) override
    {
        messages::show(m_form, tinsoke::applicationTitle(), message, QMessageBox::Warning);
    }
    void reportStartFailure(const QString &message) override
    {
        m_toolHost.reportStartFailure(message);
    }
    void processPendingEvents() override { m_toolHost.processPendingEvents(); }

private:
    TForm1 *m_form;
    const RadioGroup *m_saveMethod;
    std::array<const QCheckBox *, 8> m_ticks;
    tinsoke::ToolRunHost &m_toolHost;
};

} // namespace

// Ticks, paths and options as they are when the run starts, in tool order.
tinsoke::RunSnapshot TForm1::takeRunSnapshot() const
{
    // The option builders in tool order; PNGRewrite and cPNGC take no options.
    using Builder = QString (TForm1::*)() const;
    static constexpr std::array<Builder, 8> Builders{&TForm1::BuildJpegtranOptions,
                                                     &TForm1::BuildJpegoptimOptions,
                                                     &TForm1::BuildAdvPNGOptions,
                                                     &TForm1::BuildOptiPNGOptions,
                                                     &TForm1::BuildPNGCrushOptions,
                                                     &TForm1::BuildPNGOUTOptions,
                                                     nullptr,
                                                     nullptr};
    tinsoke::RunSnapshot snapshot;
    const auto tools = toolControls();
    for (std::size_t t = 0; t < tools.size(); ++t) {
        snapshot[t].ticked = tools[t].tick->isChecked();
        snapshot[t].executable = tools[t].path->text();
        if (Builders[t])
            snapshot[t].options = (this->*Builders[t])();
    }
    return snapshot;
}

void TForm1::Button1Click()
{
    if (!beginRun())
        return; // one run at a time
    std::array<const QCheckBox *, 8> ticks{};
    const auto tools = toolControls();
    for (std::size_t t = 0; t < tools.size(); ++t)
        ticks[t] = tools[t].tick;
    WindowBatchHost host(this, ui->RadioGroup1, ticks, toolRunHost());
    tinsoke::runBatch(*m_listModel, host, [this] { return takeRunSnapshot(); });
    endRun();
}
