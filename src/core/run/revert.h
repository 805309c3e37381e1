#pragma once

#include "finishedfiles.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace tinsoke {

// What 元に戻す did with one file an overwrite had put into the Trash.
struct RevertOutcome {
    enum class Kind {
        Reverted,     // the original is back; the Trash's copy is gone
        ChangedSince, // the file no longer holds what the run wrote: left alone
        TrashGone,    // the Trash's copy was taken out or emptied: nothing to give back
        Failed,       // it could not be written back; detail says why
    };
    QString path;
    Kind kind = Kind::Reverted;
    QString detail;
};

// Gives back the originals of the last run that overwrote, or of the named
// files (links followed): each file whose content is still exactly what the
// run wrote gets the original from the Trash, in its own place, keeping its
// owner, mode, links and time. A named file the memory holds no way back
// for is told as TrashGone. The memory forgets what was given back and marks
// it, so the watch does not take it again until it changes.
std::vector<RevertOutcome> revertOverwrites(FinishedFiles &memory, const QStringList &paths = {});

// The outcome in the program's words.
QString revertOutcomeText(const RevertOutcome &outcome);

} // namespace tinsoke
