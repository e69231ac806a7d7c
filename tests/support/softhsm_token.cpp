#include "softhsm_token.h"

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/program_path.h"

namespace testing_support {

namespace {

// Points "QORVPKCS11.dll" beside this program at `target`; by rename, so test processes of this
// program running at once never see the link missing.
bool PlaceBesideProgram(const std::filesystem::path& target) {
  const std::string link = platform::ProgramFolder() + "QORVPKCS11.dll";
  const std::string fresh = link + "." + std::to_string(getpid());
  unlink(fresh.c_str());
  return symlink(target.c_str(), fresh.c_str()) == 0 && rename(fresh.c_str(), link.c_str()) == 0;
}

}  // namespace

SoftHsmToken MakeSoftHsmToken(const std::string& script, const std::string& folder) {
  SoftHsmToken token;
  const std::string command = script + " '" + folder + "'";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[512];
  while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr) {
    output += buffer;
  }
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
    token.skipped = true;
    token.problem = "SoftHSM or pkcs11-tool is not installed and could not be";
    return token;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || output.empty()) {
    token.problem = command + " failed";
    return token;
  }
  output.pop_back();  // the newline after the folder
  const std::string libraryFolder = output.substr(output.rfind('\n') + 1);
  std::error_code error;
  const auto library = std::filesystem::canonical(libraryFolder + "/QORVPKCS11.dll", error);
  if (error || !PlaceBesideProgram(library)) {
    token.problem = "cannot place " + libraryFolder + "/QORVPKCS11.dll beside the test program";
    return token;
  }
  setenv("SOFTHSM2_CONF", (folder + "/softhsm2.conf").c_str(), 1);
  return token;
}

}  // namespace testing_support
