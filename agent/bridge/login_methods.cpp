#include "agent/bridge/login_methods.h"

#include "agent/endpoint/response_writer.h"

// Until the login module's calls are in place, every method is one the module does not have.
void CallLoginMethod(BridgeHost& frame, PluginModule& record, SSL* connection,
                     RequestFields& fields) {
  (void)record;
  (void)fields;
  if (connection == nullptr) {
    return;
  }
  SendTextResponse(frame, connection, -1, u"");
}
