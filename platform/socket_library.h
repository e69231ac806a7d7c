// The socket library's start and clean-up. Nothing needs starting on this platform; the calls are
// counted so the callers' order and their log lines stay as they are.
#pragma once

namespace platform {

// Always succeeds (0) and adds one reference.
int WSAStartup();
// Gives back one reference; 0 when one was held, -1 otherwise.
int WSACleanup();
// References held now.
int SocketLibraryReferences();
// The status text the start-up reports.
const char* SocketSystemStatus();

}  // namespace platform
