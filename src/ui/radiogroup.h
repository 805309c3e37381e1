#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QList>
#include <QStringList>

class QRadioButton;

// A titled frame of radio buttons made from a list of item captions, laid out
// in columns that fill top to bottom. The selected item is an index counted
// from 0; -1 means that no item is selected.
class RadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QStringList items READ items WRITE setItems)
    Q_PROPERTY(int columns READ columns WRITE setColumns)
    Q_PROPERTY(int itemIndex READ itemIndex WRITE setItemIndex NOTIFY itemIndexChanged)

public:
    explicit RadioGroup(QWidget *parent = nullptr);

    QStringList items() const;
    void setItems(const QStringList &captions);

    int columns() const { return m_columns; }
    void setColumns(int columns);

    int count() const { return static_cast<int>(m_buttons.size()); }
    // The narrowest width at which every item's caption shows whole.
    int widthForItems() const;
    // Grows the group to the right when an item's caption would be cut.
    void fitWidthToItems();
    QRadioButton *button(int index) const;

    int itemIndex() const { return m_group.checkedId(); }
    // Below -1 counts as -1 and past the last item as the last item, so a
    // stored index always lands on something the group can show.
    void setItemIndex(int index);

Q_SIGNALS:
    void itemIndexChanged(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void arrangeButtons();

    QButtonGroup m_group;
    QList<QRadioButton *> m_buttons;
    int m_columns = 1;
};
