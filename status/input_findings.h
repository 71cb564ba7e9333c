// Who each serial input of the run is, and, for one that is missing, lost or
// silent, what stands in its way: read from the host when someone asks for
// the status, never while nobody does.
#pragma once

#include "relay/relay_health.h"

// Fills in `identity` and `inTheWay` of the serial inputs of `health`.
void AddInputFindings(RelayHealth& health);
