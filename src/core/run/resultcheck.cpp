#include "resultcheck.h"

#include "privatefiles.h"
#include "safewrite.h"

#include <QCryptographicHash>
#include <QFile>

#include <utility>

namespace tinsoke {

Verdict Gate::judge(const QString &working, const QString &candidate, const QString &ready,
                    const PictureAllowances &allow)
{
    Verdict v;
    const FileIdentity c = FileIdentity::of(candidate);
    if (!c.exists) {
        v.why.reason = RunProblem::Reason::NoResult;
        v.missing = true;
        return v;
    }
    if (!c.regular) {
        v.why.reason = RunProblem::Reason::ResultNotRegular;
        return v;
    }
    QByteArray bytes;
    if (!readRegularFile(candidate, &bytes)) {
        v.why.reason = RunProblem::Reason::ResultBroken;
        return v;
    }
    PictureAllowances together = m_allowed;
    together |= allow;
    // Here the picture layer words the reason itself, with %1 for the tool.
    QByteArray whole = putBack(bytes, m_parts, m_kind, together, &v.why.detail);
    bytes.clear();
    if (whole.isEmpty()) {
        v.why.reason = RunProblem::Reason::PartsNotKept;
        return v;
    }
    // The format's own rules before any decoder is asked, which may take
    // what others refuse; the put-back keeps the tool's own structure.
    if (const QString fault = structureFault(whole, m_kind); !fault.isEmpty()) {
        v.why.reason = RunProblem::Reason::PartsNotKept;
        v.why.detail = (m_kind == ImageKind::Png
                            ? QStringLiteral("%1 の結果のPNGの構造が正しくありません（")
                            : QStringLiteral("%1 の結果のJPEGの構造が正しくありません（")) +
                       fault + u'）';
        return v;
    }
    if (whole.size() >= FileIdentity::of(working).size) {
        v.notSmaller = true;
        return v;
    }
    if (!keepsWhatTheUserHad(whole, m_parts, m_kind, together, &v.why.detail)) {
        v.why.reason = RunProblem::Reason::PartsNotKept;
        return v;
    }
    if (m_kind == ImageKind::Jpeg && !allow.trim && !turnIsWhole(m_parts, allow.reshape)) {
        v.why.reason = RunProblem::Reason::EdgeBlocks;
        return v;
    }
    QFile out(ready);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) || out.write(whole) != whole.size() ||
        !out.flush()) {
        v.why.reason = RunProblem::Reason::ResultNotTaken;
        return v;
    }
    out.close();
    const PictureFacts result = m_read(ready, m_kind);
    if (!result.readable) {
        v.why.reason = RunProblem::Reason::ResultBroken;
    } else if (!allow.pixels() && result.frames != m_reference.frames) {
        v.why.reason = RunProblem::Reason::FramesChanged;
        v.why.framesBefore = m_reference.frameCount;
        v.why.framesAfter = result.frames.isEmpty() ? 1 : result.frameCount;
    } else if (!allow.pixels() && !samePixels(result, m_reference)) {
        v.why.reason = RunProblem::Reason::PixelsChanged;
    } else if (!allow.colour && result.colour != m_reference.colour) {
        v.why.reason = RunProblem::Reason::ColourLost;
    } else if (QString why =
                   allow.pixels() ? m_checkChange(working, ready, m_kind, allow) : QString();
               !why.isEmpty()) {
        v.why.reason = RunProblem::Reason::ChangeNotAsAsked;
        v.why.detail = std::move(why);
    } else {
        v.accepted = true;
        m_allowed = together;
        m_accepted = QCryptographicHash::hash(whole, QCryptographicHash::Blake2b_256);
        if (allow.pixels() || allow.colour)
            m_reference = result; // the picture the next tool must keep
    }
    return v;
}

bool Gate::finalBytesAreChecked(const QString &working, const QByteArray &originalDigest) const
{
    QByteArray bytes;
    if (!readRegularFile(working, &bytes))
        return false;
    const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Blake2b_256);
    if (m_accepted.isEmpty())
        return digest == originalDigest;
    QString why;
    return digest == m_accepted && keepsWhatTheUserHad(bytes, m_parts, m_kind, m_allowed, &why);
}

} // namespace tinsoke
