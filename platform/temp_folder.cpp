#include "platform/temp_folder.h"

#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace platform {
namespace {

std::string Environment(const char* name) {
  const char* value = getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The XDG variables count only when they hold an absolute path.
std::string AbsoluteEnvironment(const char* name) {
  std::string value = Environment(name);
  return value.starts_with('/') ? value : std::string();
}

std::string WithSlash(std::string folder) {
  if (!folder.ends_with('/')) {
    folder.push_back('/');
  }
  return folder;
}

std::string HomeFolder() {
  std::string home = Environment("HOME");
  if (!home.empty()) {
    return home;
  }
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return {};
  }
  return found->pw_dir != nullptr ? std::string(found->pw_dir) : std::string();
}

// Creates the folder and any missing parents, each 0700; existing ones are left as they are.
void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
  }
  mkdir(path.c_str(), 0700);
}

// Somebody else's folder, or one that others may write into, could be fed files we then load or
// trust; such a folder is not used.
bool IsPrivateFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string PrivateFolder(const std::string& path) {
  MakeFolders(path);
  return IsPrivateFolder(path) ? WithSlash(path) : std::string();
}

}  // namespace

std::string UserTempFolder() {
  const std::string tmpdir = Environment("TMPDIR");
  if (!tmpdir.empty()) {
    return WithSlash(tmpdir);
  }
  std::string cache = AbsoluteEnvironment("XDG_CACHE_HOME");
  if (cache.empty()) {
    const std::string home = HomeFolder();
    if (home.empty()) {
      return {};
    }
    cache = WithSlash(home) + ".cache";
  }
  return PrivateFolder(WithSlash(cache) + "ostrabel/tmp");
}

std::string UserRuntimeFolder() {
  const std::string runtime = AbsoluteEnvironment("XDG_RUNTIME_DIR");
  if (!runtime.empty()) {
    return WithSlash(runtime);
  }
  std::string base = Environment("TMPDIR");
  if (base.empty()) {
    base = "/tmp";
  }
  return PrivateFolder(WithSlash(base) + "ostrabel-runtime-" + std::to_string(geteuid()));
}

}  // namespace platform
