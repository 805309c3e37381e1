#include "progressbar.h"

#include <QStyleOptionProgressBar>

ProgressBar::ProgressBar(QWidget *parent)
    : QProgressBar(parent)
{
    setTextVisible(false);
}

void ProgressBar::initStyleOption(QStyleOptionProgressBar *option) const
{
    QProgressBar::initStyleOption(option);
    if (option->minimum == option->maximum) {
        option->minimum = 0;
        option->maximum = 1;
        option->progress = 0;
    }
}
