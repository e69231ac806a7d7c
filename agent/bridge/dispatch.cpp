#include "agent/bridge/dispatch.h"

#include "agent/endpoint/response_writer.h"

// Until the commands are in place every request is answered as malformed.
void DispatchRequest(SSL* connection, ValueBuffer& requestLine, BridgeHost& frame) {
  (void)requestLine;
  if (connection == nullptr) {
    return;
  }
  SendTextResponse(frame, connection, -1, u"CGI內容錯誤");
}
