// The main frame as the plug-in bridge sees it.
#pragma once

#include <cstdint>
#include <string>

#include "agent/bridge/plugin_module.h"
#include "agent/bridge/verification_list.h"
#include "agent/endpoint/endpoint_host.h"

class BridgeHost : public EndpointHost {
 public:
  std::string AgentDirectory;  // the program's folder, ending with "/"
  ::PluginTable PluginTable;
  ::VerificationList VerificationList;
  std::string TempDirectory;  // the user's temporary folder, ending with "/", or empty
  int32_t ServiceWaitMinutes = 30;
  std::string AgentVersion = "1.2.0.0";
};
