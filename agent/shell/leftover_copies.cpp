#include "agent/shell/leftover_copies.h"

#include "platform/file_helpers.h"

void DeleteLeftoverCopies(const std::string& tempDirectory) {
  if (tempDirectory.empty() || !platform::PathExists(tempDirectory)) {
    return;
  }
  for (const std::string& name : platform::FindFiles(tempDirectory, "OSTRABEL.dll-*")) {
    const std::string path = tempDirectory + name;
    if (platform::PathExists(path)) {
      platform::DeleteFileAt(path);
    }
  }
}
