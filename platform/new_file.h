// Writing a new private file in one go.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Creates `path` (mode 0600, never over an existing file) and writes all `size` bytes. On any
// failure nothing is left at `path`.
bool WriteNewFile(const std::string& path, const void* data, size_t size);

}  // namespace platform
