#include "platform/program_path.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "scratch_folder.h"

extern char** environ;

namespace {

constexpr char kReportVariable[] = "PLATFORM_TEST_PROGRAM_PATH_REPORT";

// A copy of this program started with kReportVariable set deletes its own file, writes what it
// then sees of itself into the named file and ends before any test runs.
[[maybe_unused]] const bool kRunningAsReporter = [] {
  const char* report = getenv(kReportVariable);
  if (report == nullptr) {
    return false;
  }
  unlink(platform::ProgramPath().c_str());
  std::ofstream(report) << platform::ProgramPath() << '\n' << platform::ProgramFileName() << '\n';
  _exit(0);
}();

TEST(ProgramPath, FolderAndFileNameMakeThePath) {
  const std::string path = platform::ProgramPath();
  ASSERT_TRUE(path.starts_with('/'));
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_TRUE(platform::ProgramFolder().ends_with('/'));
  EXPECT_EQ(platform::ProgramFileName(), "platform_core_tests");
  EXPECT_EQ(platform::ProgramFolder() + platform::ProgramFileName(), path);
}

// An update replaces the program file while it runs; the kernel then marks the path
// " (deleted)", which must not end up in the restart command or the instance lock's name.
TEST(ProgramPath, DeletedProgramFileKeepsItsPath) {
  const platform_test::ScratchFolder scratch;
  const std::string copy = scratch.Path("copy-of-tests");
  const std::string report = scratch.Path("report");
  std::filesystem::copy_file("/proc/self/exe", copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);

  std::string variable = std::string(kReportVariable) + "=" + report;
  std::vector<char*> environment = {variable.data(), nullptr};
  char* argv[] = {const_cast<char*>(copy.c_str()), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, copy.c_str(), nullptr, nullptr, argv, environment.data()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  std::ifstream lines(report);
  std::string seenPath;
  std::string seenName;
  std::getline(lines, seenPath);
  std::getline(lines, seenName);
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_EQ(seenPath, copy);
  EXPECT_EQ(seenName, "copy-of-tests");
}

}  // namespace
