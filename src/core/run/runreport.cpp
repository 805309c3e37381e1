#include "runreport.h"

namespace tinsoke {

void RunSummary::add(const RowResult &row)
{
    problems += row.problems;
    switch (row.outcome) {
    case RowResult::Outcome::Remembered:
        ++remembered;
        [[fallthrough]];
    case RowResult::Outcome::Done:
        ++done;
        before += row.before;
        after += row.after;
        break;
    case RowResult::Outcome::PassedOver:
        ++passedOver;
        break;
    case RowResult::Outcome::Stopped:
        stopped = true;
        break;
    }
}

} // namespace tinsoke
