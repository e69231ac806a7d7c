// File operations with the platform's path rules ("/" separators, doubled separators read as one).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A path with every run of "/" folded into one.
std::string NormalizePath(const std::string& path);

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
// Deletes a file; false when it could not be deleted.
bool DeleteFileAt(const std::string& path);
// Copies `from` to a new file `to`; fails (and leaves `to` alone) when `to` already exists.
bool CopyFileNoOverwrite(const std::string& from, const std::string& to);
// Names (not paths) of the entries of `folder` whose names match the fnmatch `pattern`, in the
// order the system returns them; "." and ".." are never returned.
std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern);
// The whole content of a file, or nothing when it cannot be read.
std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path);

}  // namespace platform
