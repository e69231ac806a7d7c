// The test side of the fake PKCS#11 library: the scenario it plays, the log of the calls it got,
// and whether it is still loaded.
#pragma once

#include <string>
#include <vector>

#include "loginmodule/pin_prompt.h"
#include "platform/scratch_folder.h"

class FakeLibrary {
 public:
  // An empty scenario is the library without faults.
  explicit FakeLibrary(const std::string& scenario = "");

  // The log, one entry per line: a call with its arguments, "load" or "unload".
  std::vector<std::string> Calls() const;
  // The same entries up to their first space: the call names.
  std::vector<std::string> CallNames() const;
  // Adds a line of the test's own, so the log shows where it happened among the calls.
  void Note(const std::string& line) const;
  // True while any part of the process holds the library (the file FAKE_PKCS11_PATH).
  static bool Loaded();

 private:
  platform_test::ScratchFolder folder_;
  std::string logPath_;
  platform_test::ScopedEnvironment log_;
  platform_test::ScopedEnvironment scenario_;
};

// A PIN prompt that notes "AskPin" in the fake library's log, runs `during` (if set) as if the
// user had started another call from the open dialog, and answers `pin`.
class FakePrompt : public PinPrompt {
 public:
  FakePrompt(const FakeLibrary& library, std::u16string pin) : library_(library), pin_(pin) {}
  std::u16string AskPin() override;

  std::string (*during)() = nullptr;
  std::string duringResult;

 private:
  const FakeLibrary& library_;
  std::u16string pin_;
};
