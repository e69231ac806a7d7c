#include "fake_library.h"

#include <dlfcn.h>

#include <fstream>

FakeLibrary::FakeLibrary(const std::string& scenario)
    : logPath_(folder_.Path("calls.log")),
      log_("FAKE_PKCS11_CALL_LOG", logPath_.c_str()),
      scenario_("FAKE_PKCS11_SCENARIO", scenario.empty() ? nullptr : scenario.c_str()) {}

std::vector<std::string> FakeLibrary::Calls() const {
  std::vector<std::string> lines;
  std::ifstream log(logPath_);
  for (std::string line; std::getline(log, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> FakeLibrary::CallNames() const {
  std::vector<std::string> names;
  for (const std::string& line : Calls()) {
    names.push_back(line.substr(0, line.find(' ')));
  }
  return names;
}

void FakeLibrary::Note(const std::string& line) const {
  std::ofstream(logPath_, std::ios::app) << line << '\n';
}

bool FakeLibrary::Loaded() {
  void* held = dlopen(FAKE_PKCS11_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (held == nullptr) {
    return false;
  }
  dlclose(held);
  return true;
}

std::u16string FakePrompt::AskPin() {
  library_.Note("AskPin");
  if (during != nullptr) {
    duringResult = during();
  }
  return pin_;
}
