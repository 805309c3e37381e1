#include "executeprocess.h"

namespace tinsoke {

QString startFailureMessage(unsigned long errorNumber)
{
    return QStringLiteral("実行できません (") + QString::number(errorNumber) + u')';
}

} // namespace tinsoke
