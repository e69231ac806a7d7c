#include "agent/bridge/dispatch.h"

#include <cstring>

#include "agent/bridge/plugin_loading.h"
#include "agent/bridge/url_decode.h"
#include "agent/endpoint/response_writer.h"

namespace {

const char16_t kMalformedRequest[] = u"CGI內容錯誤";

// 1 to 9 for "Param1" to "Param9", otherwise 0.
int ParameterIndex(const char* name) {
  if (std::strncmp(name, "Param", 5) != 0) {
    return 0;
  }
  const char digit = name[5];
  return digit >= '1' && digit <= '9' && name[6] == '\0' ? digit - '0' : 0;
}

// `value` is null for a field without "=".
void StoreField(const char* name, const char* value, RequestFields& fields) {
  if (std::strcmp(name, "InitDLL") == 0 || std::strcmp(name, "ExecMethod") == 0) {
    fields.pairs[0].name.Reset();
    fields.pairs[0].name.AppendNarrow(name);
    fields.pairs[0].value.AppendNarrow(value);
  } else if (std::strcmp(name, "DLLToken") == 0) {
    fields.token.AppendNarrow(value);
  } else if (const int index = ParameterIndex(name)) {
    FieldPair& pair = fields.pairs[index];
    pair.name.AppendNarrow(name);
    UrlDecodeField(fields.decoding, value);
    pair.value.AppendWide(fields.decoding.WideText());
    fields.decoding.Reset();
  }
}

void ReadField(char* field, RequestFields& fields) {
  char* value = std::strchr(field, '=');
  if (value != nullptr) {
    *value++ = '\0';
  }
  if (*field != '\0') {
    StoreField(field, value, fields);
  }
}

void Route(SSL* connection, BridgeHost& frame, RequestFields& fields) {
  const char* command = fields.pairs[0].name.NarrowText();
  if (command != nullptr && fields.pairs[0].value.length() > 0) {
    if (std::strcmp(command, "InitDLL") == 0) {
      HandleInitDll(connection, frame, fields);
      return;
    }
    if (std::strcmp(command, "ExecMethod") == 0) {
      HandleExecMethod(fields.token.NarrowText(), frame, connection, fields);
      return;
    }
  }
  SendTextResponse(frame, connection, -1, kMalformedRequest);
}

}  // namespace

void ReadQueryFields(char* query, RequestFields& fields) {
  char* field = query;
  while (field != nullptr) {
    char* next = std::strchr(field, '&');
    if (next != nullptr) {
      *next++ = '\0';
    }
    ReadField(field, fields);  // an empty piece has an empty name and is skipped there
    field = next;
  }
}

void DispatchRequest(SSL* connection, ValueBuffer& requestLine, BridgeHost& frame) {
  if (connection == nullptr) {
    return;
  }
  char* line = requestLine.Chars();
  char* mark = line != nullptr ? std::strchr(line, '?') : nullptr;
  if (mark == nullptr) {
    SendTextResponse(frame, connection, -1, kMalformedRequest);
    return;
  }
  *mark = '\0';
  RequestFields fields;  // released on return, whatever the path
  ReadQueryFields(mark + 1, fields);
  Route(connection, frame, fields);
}
