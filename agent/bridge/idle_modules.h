// Releasing plug-in modules that have been idle for too long.
#pragma once

#include "agent/bridge/bridge_host.h"

// Run by the frame's idle sweep timer.
void ExpireIdleModules(BridgeHost& frame);
