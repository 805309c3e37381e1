#include "radiogroup.h"

#include <QEvent>
#include <QRadioButton>

#include <algorithm>

RadioGroup::RadioGroup(QWidget *parent)
    : QGroupBox(parent)
{
    connect(&m_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            Q_EMIT itemIndexChanged(id);
    });
}

QStringList RadioGroup::items() const
{
    QStringList captions;
    for (const QRadioButton *b : m_buttons)
        captions.append(b->text().replace(QStringLiteral("&&"), QStringLiteral("&")));
    return captions;
}

void RadioGroup::setItems(const QStringList &captions)
{
    qDeleteAll(m_buttons);
    m_buttons.clear();
    for (int i = 0; i < captions.size(); ++i) {
        // Captions are plain text: an "&" is shown, not taken as a shortcut mark.
        QString text = captions.at(i);
        auto *button = new QRadioButton(text.replace(u'&', QStringLiteral("&&")), this);
        button->setObjectName(objectName() + QStringLiteral("_Item") + QString::number(i));
        m_group.addButton(button, i);
        m_buttons.append(button);
        button->show();
    }
    arrangeButtons();
}

int RadioGroup::widthForItems() const
{
    int widest = 0;
    for (const QRadioButton *b : m_buttons)
        widest = std::max(widest, b->sizeHint().width());
    return widest * m_columns + 10;
}

void RadioGroup::fitWidthToItems()
{
    if (width() < widthForItems()) {
        resize(widthForItems(), height());
        arrangeButtons(); // a hidden group gets its resize event only when first shown
    }
}

void RadioGroup::setColumns(int columns)
{
    m_columns = std::max(1, columns);
    arrangeButtons();
}

QRadioButton *RadioGroup::button(int index) const
{
    return index >= 0 && index < count() ? m_buttons.at(index) : nullptr;
}

void RadioGroup::setItemIndex(int index)
{
    index = std::clamp(index, -1, count() - 1);
    if (index == itemIndex())
        return;
    if (index < 0) {
        // An exclusive group refuses to uncheck its last checked button.
        m_group.setExclusive(false);
        m_group.checkedButton()->setChecked(false);
        m_group.setExclusive(true);
        Q_EMIT itemIndexChanged(-1);
        return;
    }
    m_buttons.at(index)->setChecked(true);
}

void RadioGroup::resizeEvent(QResizeEvent *event)
{
    QGroupBox::resizeEvent(event);
    arrangeButtons();
}

void RadioGroup::changeEvent(QEvent *event)
{
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        arrangeButtons();
}

// Columns of equal width below the caption; each column holds an equal share
// of the items and the rows share the height evenly, any spare pixels split
// above and below.
void RadioGroup::arrangeButtons()
{
    if (m_buttons.isEmpty())
        return;
    const int n = count();
    const int perColumn = (n + m_columns - 1) / m_columns;
    const int textHeight = fontMetrics().height();
    const int buttonWidth = (width() - 10) / m_columns;
    const int usable = height() - textHeight - 5;
    const int buttonHeight = std::max(1, usable / perColumn);
    const int topMargin = textHeight + 1 + (usable % perColumn) / 2;
    for (int i = 0; i < n; ++i) {
        const int column = i / perColumn;
        const int row = i % perColumn;
        m_buttons.at(i)->setGeometry(column * buttonWidth + 8, row * buttonHeight + topMargin,
                                     buttonWidth, buttonHeight);
    }
}
