// One accepted connection and the table of them.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

struct ConnectionRecord {
  int socket = -1;
  SSL* connection = nullptr;         // owned; freed when the record is closed
  SSL_CTX* serverContext = nullptr;  // the context the connection came from

  // Request bytes kept until the request is complete.
  std::string input;
  uint32_t firstInputTick = 0;

  // Response bytes the socket has not taken yet, and where each response ends in them.
  std::string output;
  size_t outputSent = 0;
  int pendingChunk = 0;  // length of a write to repeat after want-write, 0 when none
  uint32_t lastOutputTick = 0;
  std::deque<size_t> responseEnds;  // offsets in `output`
  size_t responseStart = 0;         // where the oldest unfinished response begins
  int selectedEvents = 0;           // the socket events asked for now
  bool readWantsWrite = false;      // a read must wait until the socket is writable

  // Handlers using the record further up the stack (a request being answered may wait in a
  // nested modal loop). While busy the record is never freed; a close is deferred instead.
  int busy = 0;
  bool closePending = false;
  bool closeAfterOutput = false;
  bool draining = false;  // answered and half-closed; reads are discarded until the peer closes
  uint32_t drainStartTick = 0;

  ~ConnectionRecord();
};

using ConnectionList = std::vector<std::unique_ptr<ConnectionRecord>>;

// The first record with this socket, or null.
ConnectionRecord* FindConnection(ConnectionList& table, int socket);
// The record of a TLS connection, or null.
ConnectionRecord* FindConnection(ConnectionList& table, const SSL* connection);
