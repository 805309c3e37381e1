#pragma once

#include "runreport.h"
#include "runshared.h"

#include <QByteArray>
#include <QString>

namespace tinsoke {

class OpenedFile;

// A row's part of the memory of finished files: whether its file is known
// finished for its chain, and what the row teaches it at its end.
class RowMemory {
public:
    RowMemory(RunShared &shared, const RowTask &task);

    // Whether the memory knows the file as it is now finished for its
    // chain: by its directory entry alone, else by its content. The file's
    // size goes to sizeNow whenever it could be looked at.
    bool knownFinished(qint64 *sizeNow);

    // A row that went through its whole chain without a fault: its result
    // (or the unchanged file) is what the chain cannot make smaller. The
    // result's digest is the one the last check verified the saved bytes by.
    void rememberFinished(const OpenedFile &original, const RowResult &result,
                          const QByteArray &resultDigest, const QByteArray &originalDigest);

private:
    QByteArray copiedChain() const;

    RunShared &m_shared;
    const RowTask &m_task;
    QByteArray m_chain; // the fingerprint of the file's chain, when the memory is used
};

} // namespace tinsoke
