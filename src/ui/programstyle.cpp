#include "programstyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>
#include <qdrawutil.h>

namespace {

constexpr int GroupBoxCaptionIndent = 8;

// Only plain titled boxes are drawn our way; checkable ones keep Fusion's look.
const QStyleOptionGroupBox *plainGroupBox(const QStyleOptionComplex *option)
{
    const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
    return box && !(box->subControls & QStyle::SC_GroupBoxCheckBox) ? box : nullptr;
}

} // namespace

ProgramStyle::ProgramStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{}

int ProgramStyle::pixelMetric(PixelMetric metric, const QStyleOption *option,
                              const QWidget *widget) const
{
    if (metric == PM_TabBarTabHSpace)
        return 12;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

QRect ProgramStyle::subControlRect(ComplexControl control, const QStyleOptionComplex *option,
                                   SubControl subControl, const QWidget *widget) const
{
    const QStyleOptionGroupBox *box = control == CC_GroupBox ? plainGroupBox(option) : nullptr;
    if (!box)
        return QProxyStyle::subControlRect(control, option, subControl, widget);

    const int textHeight = box->fontMetrics.height();
    const QRect frame = box->rect.adjusted(0, textHeight / 2, 0, 0);
    switch (subControl) {
    case SC_GroupBoxFrame:
        return frame;
    case SC_GroupBoxContents:
        return frame.adjusted(2, textHeight / 2 + 2, -2, -2);
    case SC_GroupBoxLabel: {
        if (box->text.isEmpty())
            return {};
        const int width = box->fontMetrics.horizontalAdvance(box->text) + 4;
        return {box->rect.left() + GroupBoxCaptionIndent, box->rect.top(), width, textHeight};
    }
    default:
        return {};
    }
}

void ProgramStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                      QPainter *painter, const QWidget *widget) const
{
    const QStyleOptionGroupBox *box = control == CC_GroupBox ? plainGroupBox(option) : nullptr;
    if (!box) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }

    const QRect label = subControlRect(control, option, SC_GroupBoxLabel, widget);
    painter->save();
    if (box->subControls & SC_GroupBoxFrame) {
        // An etched line, interrupted where the caption stands.
        QRegion clip(box->rect);
        clip -= label;
        painter->setClipRegion(clip);
        const QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget);
        qDrawShadeRect(painter, frame.adjusted(0, 0, -1, -1), box->palette, true, 1, 0);
        painter->setClipping(false);
    }
    if (!label.isEmpty()) {
        proxy()->drawItemText(painter, label, Qt::AlignCenter | Qt::TextShowMnemonic, box->palette,
                              box->state & State_Enabled, box->text, QPalette::WindowText);
    }
    painter->restore();
}

void installProgramStyle()
{
    QApplication::setStyle(new ProgramStyle);
}
