#pragma once

#include "runplan.h"

#include <QByteArray>

namespace tinsoke {

// What the chain of one kind of picture is made of: every ticked tool in
// order, each with its program's identity and its option words, and the
// rules of the result check. Empty when no tool of that kind runs.
QByteArray chainFingerprint(const RunPlan &plan, ImageKind kind);

} // namespace tinsoke
