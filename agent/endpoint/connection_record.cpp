#include "agent/endpoint/connection_record.h"

ConnectionRecord::~ConnectionRecord() {
  if (connection != nullptr) {
    SSL_free(connection);
  }
}

ConnectionRecord* FindConnection(ConnectionList& table, int socket) {
  for (auto& record : table) {
    if (record && record->socket == socket) {
      return record.get();
    }
  }
  return nullptr;
}

ConnectionRecord* FindConnection(ConnectionList& table, const SSL* connection) {
  for (auto& record : table) {
    if (record && record->connection == connection) {
      return record.get();
    }
  }
  return nullptr;
}
