#include "stopsignals.h"

namespace tinsoke {

// Windows ends console-less programs through their windows; nothing to catch here.
StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{}

StopSignals::~StopSignals() = default;

void StopSignals::readPipe() {}

void keepRunningPastFileSizeLimit() {}

} // namespace tinsoke
