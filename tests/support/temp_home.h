// A private HOME, TMPDIR and XDG_RUNTIME_DIR for a test, removed afterwards.
#pragma once

#include <string>

namespace testing_support {

class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;
  const std::string& path() const { return path_; }
  std::string tmp() const { return path_ + "/tmp/"; }
  std::string runtime() const { return path_ + "/run/"; }

 private:
  std::string path_;
  std::string savedHome_, savedTmp_, savedRuntime_;
};

// A TCP port on 127.0.0.1 that nothing listens on now, with the next two ports free as well.
int FindFreePortRun();

}  // namespace testing_support
