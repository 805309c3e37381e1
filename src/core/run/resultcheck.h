#pragma once

// The check every tool's result passes before it may take the working
// file's place, and the last look before the user's file is written.

#include "picturefacts.h"
#include "pictureparts.h"
#include "runreport.h"
#include "tools.h"

#include <QByteArray>
#include <QString>

#include <utility>

namespace tinsoke {

// The rules below, as one number: raised whenever they take or refuse
// results differently, so that files remembered as finished are tried again.
constexpr int ResultCheckRules = 2;

// Whether a result may take the working file's place: a regular file, a
// whole image of its kind, smaller, and the same picture except where the
// user's options ask for a change. When it may not, why holds the reason and
// its arguments but for the tool, which the row adds; notSmaller is the
// ordinary "no gain", no problem at all.
struct Verdict {
    bool accepted = false;
    bool notSmaller = false;
    bool missing = false; // the tool left no result at all
    RunProblem why;
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
                  const PictureAllowances &allow);

    // The last look before the user's file is written: the bytes are those
    // the check accepted last (or the original's, when nothing was), and they
    // carry what the user had.
    bool finalBytesAreChecked(const QString &working, const QByteArray &originalDigest) const;

    // The digest of the bytes accepted last; empty while none were.
    const QByteArray &acceptedDigest() const { return m_accepted; }

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
