// The per-user temporary folder that no other user can write.
#pragma once

#include <string>

namespace platform {

// $TMPDIR when set and non-empty, else a 0700 folder under $XDG_CACHE_HOME (default ~/.cache),
// created when missing. Always ends with "/". Empty when no such folder can be had.
std::string UserTempFolder();

// The per-user runtime folder: $XDG_RUNTIME_DIR, else a 0700 folder of the user's (created).
// Always ends with "/". Empty when no such folder can be had.
std::string UserRuntimeFolder();

}  // namespace platform
