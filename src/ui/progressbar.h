#pragma once

#include <QProgressBar>

// The run's progress bar. An empty range (minimum equal to maximum) shows an
// empty bar, where a plain QProgressBar would start its busy animation.
class ProgressBar : public QProgressBar {
    Q_OBJECT

public:
    explicit ProgressBar(QWidget *parent = nullptr);

protected:
    void initStyleOption(QStyleOptionProgressBar *option) const override;
};
