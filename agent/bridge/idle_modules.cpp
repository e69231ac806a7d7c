#include "agent/bridge/idle_modules.h"

void ExpireIdleModules(BridgeHost& frame) {
  (void)frame;  // no module can be loaded yet
}
