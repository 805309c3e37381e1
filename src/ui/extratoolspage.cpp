#include "extratoolspage.h"

#include "filedrop.h"
#include "paths.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>

namespace {

enum Column { UseColumn, NameColumn, KindColumn, PathColumn, ArgsColumn, ColumnCount };

QPushButton *button(QWidget *parent, const char *name, const QString &text, int y)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(572, y, 49, 20);
    return b;
}

} // namespace

ExtraToolsPage::ExtraToolsPage(BrowseDialog browse, QWidget *parent)
    : QWidget(parent)
    , m_browse(std::move(browse))
    , m_table(new QTableWidget(0, ColumnCount, this))
{
    setObjectName(QStringLiteral("TabSheet_ExtraTools"));
    m_table->setObjectName(QStringLiteral("ListView_ExtraTools"));
    m_table->setGeometry(3, 3, 566, 150);
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("使う"), QStringLiteral("名前"), QStringLiteral("種類"),
         QStringLiteral("プログラム"),
         QStringLiteral("引数（{in} 読むファイル、{out} 書くファイル）")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(20);
    QHeaderView *header = m_table->horizontalHeader();
    for (const auto &[column, width] :
         {std::pair{UseColumn, 36}, {NameColumn, 90}, {KindColumn, 56}, {PathColumn, 150}})
        header->resizeSection(column, width);
    header->setStretchLastSection(true);

    m_add = button(this, "Button_ExtraAdd", QStringLiteral("追加"), 3);
    m_remove = button(this, "Button_ExtraRemove", QStringLiteral("削除"), 26);
    m_up = button(this, "Button_ExtraUp", QStringLiteral("上へ"), 49);
    m_down = button(this, "Button_ExtraDown", QStringLiteral("下へ"), 72);
    m_browseButton = button(this, "Button_ExtraBrowse", QStringLiteral("参照"), 95);

    auto *label = new QLabel(QStringLiteral("見つかったツール"), this);
    label->setObjectName(QStringLiteral("Label_ExtraPreset"));
    label->setGeometry(3, 160, 90, 20);
    m_presetBox = new QComboBox(this);
    m_presetBox->setObjectName(QStringLiteral("ComboBox_ExtraPreset"));
    m_presetBox->setGeometry(96, 160, 220, 20);
    m_takePreset = new QPushButton(QStringLiteral("この設定で追加"), this);
    m_takePreset->setObjectName(QStringLiteral("Button_ExtraPreset"));
    m_takePreset->setGeometry(320, 160, 100, 20);

    connect(m_add, &QPushButton::clicked, this, [this] {
        insertRow(m_table->rowCount(), {true, QStringLiteral("ツール"), tinsoke::ImageKind::Png,
                                        QString(), QStringLiteral("{in} {out}")});
    });
    connect(m_remove, &QPushButton::clicked, this, [this] {
        if (m_table->currentRow() >= 0) {
            m_table->removeRow(m_table->currentRow());
            Q_EMIT toolsChanged();
        }
    });
    connect(m_up, &QPushButton::clicked, this, [this] { moveRow(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { moveRow(1); });
    connect(m_browseButton, &QPushButton::clicked, this, [this] {
        const int row = m_table->currentRow();
        if (row < 0)
            return;
        const QString chosen = m_browse(m_table->item(row, PathColumn)->text());
        if (!chosen.isEmpty())
            m_table->item(row, PathColumn)->setText(chosen);
    });
    connect(m_takePreset, &QPushButton::clicked, this, [this] {
        const int at = m_presetBox->currentIndex();
        if (at >= 0 && at < m_presets.size())
            insertRow(m_table->rowCount(), m_presets.at(at));
    });
    connect(m_table, &QTableWidget::itemChanged, this, [this] { Q_EMIT toolsChanged(); });
    connect(m_table, &QTableWidget::currentCellChanged, this, [this] { updateButtons(); });
    // A program dropped on the list names the selected tool's program.
    m_dropHook =
        std::make_unique<FileDropHook>(m_table->viewport(), [this](const QStringList &paths) {
            const int row = m_table->currentRow();
            if (row >= 0 && !paths.isEmpty() && tinsoke::isDroppableExecutable(paths.first()))
                m_table->item(row, PathColumn)->setText(paths.first());
        });
    setPresets(tinsoke::extraToolPresets(tinsoke::findProgramOnPath));
    updateButtons();
}

ExtraToolsPage::~ExtraToolsPage() = default;

void ExtraToolsPage::insertRow(int row, const tinsoke::ExtraTool &tool)
{
    {
        const QSignalBlocker quiet(m_table);
        m_table->insertRow(row);
        auto *use = new QTableWidgetItem;
        use->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        use->setCheckState(tool.use ? Qt::Checked : Qt::Unchecked);
        m_table->setItem(row, UseColumn, use);
        m_table->setItem(row, NameColumn, new QTableWidgetItem(tool.name));
        m_table->setItem(row, KindColumn, new QTableWidgetItem); // behind the box
        m_table->setItem(row, PathColumn, new QTableWidgetItem(tool.path));
        m_table->setItem(row, ArgsColumn, new QTableWidgetItem(tool.args));
        auto *kind = new QComboBox;
        kind->addItems({QStringLiteral("PNG"), QStringLiteral("JPEG")});
        kind->setCurrentIndex(tool.kind == tinsoke::ImageKind::Jpeg ? 1 : 0);
        connect(kind, &QComboBox::currentIndexChanged, this, [this] { Q_EMIT toolsChanged(); });
        m_table->setCellWidget(row, KindColumn, kind);
    }
    m_table->setCurrentCell(row, NameColumn);
    updateButtons();
    Q_EMIT toolsChanged();
}

tinsoke::ExtraTool ExtraToolsPage::toolAt(int row) const
{
    tinsoke::ExtraTool t;
    t.use = m_table->item(row, UseColumn)->checkState() == Qt::Checked;
    t.name = m_table->item(row, NameColumn)->text();
    const auto *kind = qobject_cast<const QComboBox *>(m_table->cellWidget(row, KindColumn));
    t.kind = kind && kind->currentIndex() == 1 ? tinsoke::ImageKind::Jpeg : tinsoke::ImageKind::Png;
    t.path = m_table->item(row, PathColumn)->text();
    t.args = m_table->item(row, ArgsColumn)->text();
    return t;
}

void ExtraToolsPage::moveRow(int by)
{
    const int row = m_table->currentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= m_table->rowCount())
        return;
    const tinsoke::ExtraTool tool = toolAt(row);
    {
        const QSignalBlocker quiet(m_table);
        m_table->removeRow(row);
    }
    insertRow(to, tool);
}

void ExtraToolsPage::setTools(const QList<tinsoke::ExtraTool> &tools)
{
    {
        const QSignalBlocker quiet(m_table);
        m_table->setRowCount(0);
    }
    for (const tinsoke::ExtraTool &t : tools)
        insertRow(m_table->rowCount(), t);
    updateButtons();
}

QList<tinsoke::ExtraTool> ExtraToolsPage::tools() const
{
    QList<tinsoke::ExtraTool> all;
    for (int row = 0; row < m_table->rowCount(); ++row)
        all.append(toolAt(row));
    return all;
}

void ExtraToolsPage::setPresets(const QList<tinsoke::ExtraTool> &presets)
{
    m_presets = presets;
    m_presetBox->clear();
    for (const tinsoke::ExtraTool &p : presets)
        m_presetBox->addItem(p.name);
    updateButtons();
}

void ExtraToolsPage::setRunning(bool running)
{
    m_running = running;
    m_table->setEditTriggers(running ? QAbstractItemView::NoEditTriggers
                                     : QAbstractItemView::DoubleClicked |
                                           QAbstractItemView::EditKeyPressed |
                                           QAbstractItemView::AnyKeyPressed);
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (QWidget *kind = m_table->cellWidget(row, KindColumn))
            kind->setEnabled(!running);
        QTableWidgetItem *use = m_table->item(row, UseColumn);
        use->setFlags(running ? Qt::ItemIsSelectable | Qt::ItemIsEnabled
                              : Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    }
    m_dropHook->setEnabled(!running);
    updateButtons();
}

void ExtraToolsPage::updateButtons()
{
    const int row = m_table->currentRow();
    const int rows = m_table->rowCount();
    m_add->setEnabled(!m_running);
    m_remove->setEnabled(!m_running && row >= 0);
    m_up->setEnabled(!m_running && row > 0);
    m_down->setEnabled(!m_running && row >= 0 && row + 1 < rows);
    m_browseButton->setEnabled(!m_running && row >= 0);
    m_presetBox->setEnabled(!m_running && !m_presets.isEmpty());
    m_takePreset->setEnabled(!m_running && !m_presets.isEmpty());
}
