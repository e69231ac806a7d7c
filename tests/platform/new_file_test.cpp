#include "platform/new_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/file_helpers.h"
#include "scratch_folder.h"

namespace {

using platform_test::ScratchFolder;

TEST(WriteNewFile, WritesAPrivateFileWithAllBytes) {
  const ScratchFolder scratch;
  std::vector<uint8_t> content(300000);
  for (size_t i = 0; i < content.size(); ++i) {
    content[i] = static_cast<uint8_t>(i * 13 + i / 256);
  }
  const std::string path = scratch.Path("copy");
  ASSERT_TRUE(platform::WriteNewFile(path, content.data(), content.size()));
  EXPECT_EQ(platform::ReadFileBytes(path), content);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST(WriteNewFile, NeverReplacesAndLeavesNothingOnFailure) {
  const ScratchFolder scratch;
  const std::string existing = scratch.Path("existing");
  std::ofstream(existing) << "keep";
  const uint8_t byte = 1;
  EXPECT_FALSE(platform::WriteNewFile(existing, &byte, 1));
  EXPECT_EQ(platform::ReadFileBytes(existing), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

  EXPECT_FALSE(platform::WriteNewFile(scratch.Path("no/such/folder"), &byte, 1));
  EXPECT_FALSE(platform::WriteNewFile("", &byte, 1));
}

TEST(WriteNewFile, AWriteCutShortLeavesNoPartialFile) {
  const ScratchFolder scratch;
  // A file size limit makes the write fail part way, as a full disk would.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 1000;
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const std::vector<uint8_t> content(5000, 7);
  const bool written = platform::WriteNewFile(scratch.Path("copy"), content.data(), content.size());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_FALSE(platform::PathExists(scratch.Path("copy")));
}

}  // namespace
