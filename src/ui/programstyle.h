#pragma once

#include <QProxyStyle>

// The look the designed layout was drawn for, on top of Fusion: a group box's
// caption sits on its etched frame line, so controls placed a caption's height
// below the box's top clear the frame; tab captions get narrow padding so that
// all nine page tabs fit the window's width.
class ProgramStyle : public QProxyStyle {
    Q_OBJECT

public:
    ProgramStyle();

    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option,
                         SubControl subControl, const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget = nullptr) const override;
};

// Makes ProgramStyle the application's style; call once after QApplication exists.
void installProgramStyle();
