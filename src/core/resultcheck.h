#pragma once

// The check every tool's result passes before it may take the working
// file's place, and the last look before the user's file is written.

#include "picturefacts.h"
#include "pictureparts.h"
#include "privatefiles.h"
#include "safewrite.h"

#include <QCryptographicHash>
#include <QFile>
#include <QString>

namespace tinsoke {

// The rules below, as one number: raised whenever they take or refuse
// results differently, so that files remembered as finished are tried again.
constexpr int ResultCheckRules = 1;

// Whether a result may take the working file's place: a regular file, a
// whole image of its kind, smaller, and the same picture except where the
// user's options ask for a change. Empty when it may; else why not. An
// empty reason with notSmaller set is the ordinary "no gain".
struct Verdict {
    bool accepted = false;
    bool notSmaller = false;
    bool missing = false; // the tool left no result at all
    QString reason;
};

class Gate {
public:
    Gate(const PictureReader &read, const PictureChangeCheck &checkChange, ImageKind kind,
         PictureFacts original, PictureParts parts)
        : m_read(read)
        , m_checkChange(checkChange)
        , m_kind(kind)
        , m_reference(std::move(original))
        , m_parts(std::move(parts))
    {}

    // Judges a tool's result; an accepted one, with the user's metadata and
    // trailing bytes put back, is left at ready.
    Verdict judge(const QString &working, const QString &candidate, const QString &ready,
                  const PictureAllowances &allow)
    {
        Verdict v;
        const FileIdentity c = FileIdentity::of(candidate);
        if (!c.exists) {
            v.reason = QStringLiteral("%1 が結果を出力しませんでした");
            v.missing = true;
            return v;
        }
        if (!c.regular) {
            v.reason = QStringLiteral("%1 の結果が通常のファイルではありません");
            return v;
        }
        QByteArray bytes;
        if (!readRegularFile(candidate, &bytes)) {
            v.reason = QStringLiteral("%1 の結果が壊れた画像でした");
            return v;
        }
        PictureAllowances together = m_allowed;
        together |= allow;
        QByteArray whole = putBack(bytes, m_parts, m_kind, together, &v.reason);
        bytes.clear();
        if (whole.isEmpty())
            return v;
        if (whole.size() >= FileIdentity::of(working).size) {
            v.notSmaller = true;
            return v;
        }
        if (!keepsWhatTheUserHad(whole, m_parts, m_kind, together, &v.reason))
            return v;
        if (m_kind == ImageKind::Jpeg && !allow.trim && !turnIsWhole(m_parts, allow.reshape)) {
            v.reason = QStringLiteral(
                "%1 の結果では端の画素を回転・反転できません（切り取りを選んでください）");
            return v;
        }
        QFile out(ready);
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            out.write(whole) != whole.size() || !out.flush()) {
            v.reason = QStringLiteral("%1 の結果を取り込めません");
            return v;
        }
        out.close();
        const PictureFacts result = m_read(ready, m_kind);
        if (!result.readable) {
            v.reason = QStringLiteral("%1 の結果が壊れた画像でした");
        } else if (!allow.pixels() && result.frames != m_reference.frames) {
            v.reason = QStringLiteral("%1 の結果ではアニメーションのコマが変わりました（") +
                       QString::number(m_reference.frameCount) + QStringLiteral(" → ") +
                       QString::number(result.frames.isEmpty() ? 1 : result.frameCount) +
                       QStringLiteral(" コマ）");
        } else if (!allow.pixels() && result.pixels != m_reference.pixels) {
            v.reason = QStringLiteral("%1 の結果は画素が元の画像と異なりました");
        } else if (!allow.colour && result.colour != m_reference.colour) {
            v.reason =
                QStringLiteral("%1 の結果では色の情報（カラープロファイルなど）が失われました");
        } else if (const QString why =
                       allow.pixels() ? m_checkChange(working, ready, m_kind, allow) : QString();
                   !why.isEmpty()) {
            v.reason = QStringLiteral("%1 の結果は") + why;
        } else {
            v.accepted = true;
            m_allowed = together;
            m_accepted = QCryptographicHash::hash(whole, QCryptographicHash::Blake2b_256);
            if (allow.pixels() || allow.colour)
                m_reference = result; // the picture the next tool must keep
        }
        return v;
    }

    // The last look before the user's file is written: the bytes are those
    // the check accepted last (or the original's, when nothing was), and they
    // carry what the user had.
    bool finalBytesAreChecked(const QString &working, const QByteArray &originalDigest) const
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

private:
    const PictureReader &m_read;
    const PictureChangeCheck &m_checkChange;
    ImageKind m_kind;
    PictureFacts m_reference;
    PictureParts m_parts;
    PictureAllowances m_allowed; // what the steps kept so far asked for
    QByteArray m_accepted;       // digest of the bytes last accepted
};

} // namespace tinsoke
