#include "platform/file_helpers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "scratch_folder.h"

namespace {

using platform_test::ScratchFolder;
using Bytes = std::vector<uint8_t>;

void WriteFile(const std::string& path, const Bytes& content) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()),
             static_cast<std::streamsize>(content.size()));
}

// More than one copy chunk, with zero bytes and every byte value.
Bytes PatternBytes(size_t size) {
  Bytes content(size);
  for (size_t i = 0; i < size; ++i) {
    content[i] = static_cast<uint8_t>(i * 7 + i / 256);
  }
  return content;
}

TEST(NormalizePath, FoldsRunsOfSlashes) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"/", "/"}, {"//a///b//", "/a/b/"}, {"a//b", "a/b"}, {"/a/b", "/a/b"},
  };
  for (const auto& [path, normal] : cases) {
    EXPECT_EQ(platform::NormalizePath(path), normal) << path;
  }
}

TEST(FileHelpers, ExistsIsDirectoryAndDelete) {
  const ScratchFolder scratch;
  const std::string file = scratch.Path("file");
  WriteFile(file, {1});

  EXPECT_TRUE(platform::PathExists(file));
  EXPECT_FALSE(platform::IsDirectory(file));
  EXPECT_TRUE(platform::PathExists(scratch.path()));
  EXPECT_TRUE(platform::IsDirectory(scratch.path() + "//"));
  EXPECT_FALSE(platform::DeleteFileAt(scratch.path()));  // folders are not files

  EXPECT_TRUE(platform::DeleteFileAt(file));
  EXPECT_FALSE(platform::PathExists(file));
  EXPECT_FALSE(platform::IsDirectory(file));
  EXPECT_FALSE(platform::DeleteFileAt(file));
}

TEST(CopyFileNoOverwrite, CopiesIntoAPrivateNewFile) {
  const ScratchFolder scratch;
  const Bytes content = PatternBytes(200000);
  WriteFile(scratch.Path("from"), content);

  ASSERT_TRUE(platform::CopyFileNoOverwrite(scratch.Path("from"), scratch.Path("to")));
  EXPECT_EQ(platform::ReadFileBytes(scratch.Path("to")), content);
  struct stat info {};
  ASSERT_EQ(stat(scratch.Path("to").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(CopyFileNoOverwrite, LeavesAnExistingTargetAlone) {
  const ScratchFolder scratch;
  WriteFile(scratch.Path("from"), {1, 2, 3});
  WriteFile(scratch.Path("to"), {9});

  EXPECT_FALSE(platform::CopyFileNoOverwrite(scratch.Path("from"), scratch.Path("to")));
  EXPECT_EQ(platform::ReadFileBytes(scratch.Path("to")), Bytes{9});
}

// No target may stay behind when the source is missing, is a folder or fails while being read
// (reading /proc/self/mem at offset 0 fails with EIO).
TEST(CopyFileNoOverwrite, FailedCopyLeavesNoTarget) {
  const ScratchFolder scratch;
  for (const std::string& source :
       {scratch.Path("missing"), scratch.path(), std::string("/proc/self/mem")}) {
    const std::string target = scratch.Path("to");
    EXPECT_FALSE(platform::CopyFileNoOverwrite(source, target)) << source;
    EXPECT_FALSE(platform::PathExists(target)) << source;
  }
}

TEST(FindFiles, ReturnsMatchingNamesWithoutDots) {
  const ScratchFolder scratch;
  for (const char* name : {"OSTRABEL.dll-1", "OSTRABEL.dll-2", "other", ".hidden"}) {
    WriteFile(scratch.Path(name), {});
  }
  std::filesystem::create_directory(scratch.Path("OSTRABEL.dll-folder"));

  auto sorted = [](std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ(sorted(platform::FindFiles(scratch.path(), "OSTRABEL.dll-*")),
            (Names{"OSTRABEL.dll-1", "OSTRABEL.dll-2", "OSTRABEL.dll-folder"}));
  EXPECT_EQ(sorted(platform::FindFiles(scratch.path() + "/", "*")),
            (Names{".hidden", "OSTRABEL.dll-1", "OSTRABEL.dll-2", "OSTRABEL.dll-folder", "other"}));
  EXPECT_EQ(platform::FindFiles(scratch.path(), "none*"), Names{});
  EXPECT_EQ(platform::FindFiles(scratch.Path("missing"), "*"), Names{});
}

TEST(ReadFileBytes, ReadsWholeContentOrNothing) {
  const ScratchFolder scratch;
  const Bytes content = PatternBytes(70000);
  WriteFile(scratch.Path("data"), content);
  WriteFile(scratch.Path("empty"), {});

  EXPECT_EQ(platform::ReadFileBytes(scratch.Path("data")), content);
  EXPECT_EQ(platform::ReadFileBytes(scratch.Path("empty")), Bytes{});
  EXPECT_EQ(platform::ReadFileBytes(scratch.Path("missing")), std::nullopt);
  EXPECT_EQ(platform::ReadFileBytes(scratch.path()), std::nullopt);
  // Files of /proc report size 0 yet have content.
  const auto status = platform::ReadFileBytes("/proc/self/status");
  ASSERT_TRUE(status.has_value());
  EXPECT_FALSE(status->empty());
}

}  // namespace
