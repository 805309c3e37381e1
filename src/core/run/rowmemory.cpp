#include "rowmemory.h"

#include "fileops.h"
#include "privatefiles.h"

#include <vector>

namespace tinsoke {

RowMemory::RowMemory(RunShared &shared, const RowTask &task)
    : m_shared(shared)
    , m_task(task)
{
    const auto kind = chainFor(task.path, task.fileName);
    if (m_shared.memory && kind)
        m_chain = m_shared.chains.at(static_cast<std::size_t>(*kind));
}

bool RowMemory::knownFinished(qint64 *sizeNow)
{
    if (m_chain.isEmpty() || m_shared.forgetMemory)
        return false;
    QString error;
    const OpenedFile file = OpenedFile::open(m_task.path, &error);
    if (!file.isOpen())
        return false; // the row tells why, as it always has
    const StatKey key = StatKey::of(file.identity());
    *sizeNow = key.size;
    const QByteArray copied = copiedChain();
    if (m_shared.memory->knownByStat(key, m_chain) ||
        (!copied.isEmpty() && m_shared.memory->knownByStat(key, copied)))
        return true;
    const QByteArray digest = file.digest();
    if (digest.isEmpty() || !file.unchangedOnDisk())
        return false;
    for (const QByteArray &chain : {m_chain, copied}) {
        if (!chain.isEmpty() && m_shared.memory->knownByDigest(digest, chain)) {
            m_shared.memory->remember(digest, chain, {key});
            return true;
        }
    }
    return false;
}

// An original whose smaller copy this chain saved beside it, or in a
// result folder, is done for that save method: another run (a watch that
// starts again) would only add one more copy.
QByteArray RowMemory::copiedChain() const
{
    switch (m_shared.plan.saveMethod) {
    case SaveMethod::CopyBeside:
        return m_chain + QByteArrayLiteral("\ncopied beside");
    case SaveMethod::ResultFolder:
        return m_chain + QByteArrayLiteral("\ncopied to a result folder");
    default:
        return QByteArray();
    }
}

// Only what the row itself read or wrote is remembered, and only while it
// is still so: a file another program changed meanwhile is not.
void RowMemory::rememberFinished(const OpenedFile &original, const RowResult &result,
                                 const QByteArray &resultDigest, const QByteArray &originalDigest)
{
    if (m_chain.isEmpty() || result.outcome != RowResult::Outcome::Done ||
        !result.problems.isEmpty())
        return;
    const bool originalStays = original.unchangedOnDisk();
    if (result.kept.isEmpty() && !originalStays)
        return;
    const QByteArray &digest = result.kept.isEmpty() ? originalDigest : resultDigest;
    if (digest.isEmpty())
        return;
    std::vector<StatKey> entries;
    const QString saved =
        m_shared.plan.saveMethod == SaveMethod::InPlace ? original.realPath() : result.savedAs;
    if (result.written.exists && FileIdentity::of(saved).sameAs(result.written))
        entries.push_back(StatKey::of(result.written));
    if (result.kept.isEmpty())
        entries.push_back(StatKey::of(original.identity()));
    m_shared.memory->remember(digest, m_chain, entries);
    const QByteArray copied = copiedChain();
    if (!result.kept.isEmpty() && !copied.isEmpty() && originalStays)
        m_shared.memory->remember(originalDigest, copied, {StatKey::of(original.identity())});
}

} // namespace tinsoke
