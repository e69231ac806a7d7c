// The per-user temporary folder that no other user can write.
#pragma once

#include <string>

namespace platform {

// $TMPDIR when set and non-empty, else the 0700 folder "ostrabel/tmp" under $XDG_CACHE_HOME
// (default ~/.cache), created when missing. Always ends with "/". Empty when no such folder can
// be had, or when the existing one is not ours or others can write into it.
std::string UserTempFolder();

// The per-user runtime folder: $XDG_RUNTIME_DIR, else the 0700 folder "ostrabel-runtime-<uid>"
// in $TMPDIR (default /tmp), created when missing and refused like the one above. Always ends
// with "/". Empty when no such folder can be had.
std::string UserRuntimeFolder();

}  // namespace platform
