#include "programicon.h"

QIcon programIcon()
{
    return QIcon(QStringLiteral(":/resources/tinsoke.png"));
}
