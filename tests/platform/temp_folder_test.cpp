#include "platform/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scratch_folder.h"

namespace {

using platform_test::ScopedEnvironment;
using platform_test::ScratchFolder;

mode_t PermissionsOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

TEST(UserTempFolder, TmpdirIsTakenAsItIsWithASlash) {
  for (const char* value : {"/some/where", "/some/where/"}) {
    const ScopedEnvironment tmpdir("TMPDIR", value);
    EXPECT_EQ(platform::UserTempFolder(), "/some/where/");
  }
}

TEST(UserTempFolder, WithoutTmpdirAPrivateFolderIsMadeInTheCache) {
  const ScratchFolder scratch;
  const ScopedEnvironment tmpdir("TMPDIR", "");
  {
    const ScopedEnvironment cache("XDG_CACHE_HOME", scratch.Path("cache").c_str());
    const std::string folder = platform::UserTempFolder();
    EXPECT_EQ(folder, scratch.Path("cache/ostrabel/tmp/"));
    EXPECT_EQ(PermissionsOf(folder), 0700u);
    EXPECT_EQ(PermissionsOf(scratch.Path("cache")), 0700u);
  }
  const ScopedEnvironment cache("XDG_CACHE_HOME", nullptr);
  const ScopedEnvironment home("HOME", scratch.path().c_str());
  EXPECT_EQ(platform::UserTempFolder(), scratch.Path(".cache/ostrabel/tmp/"));
}

// An existing folder is used only when it is ours and nobody else can write into it.
TEST(UserTempFolder, ExistingFolderOthersCouldWriteIsRefused) {
  struct Case {
    mode_t mode;
    bool ownedByOther;
    bool usable;
  };
  const Case cases[] = {
      {0700, false, true},  {0750, false, true}, {0770, false, false},
      {0702, false, false}, {0700, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mode << " other owner " << c.ownedByOther);
    if (c.ownedByOther && geteuid() != 0) {
      continue;  // only root can give a folder away
    }
    const ScratchFolder scratch;
    const ScopedEnvironment tmpdir("TMPDIR", nullptr);
    const ScopedEnvironment cache("XDG_CACHE_HOME", scratch.path().c_str());
    const std::string folder = scratch.Path("ostrabel/tmp");
    ASSERT_EQ(mkdir(scratch.Path("ostrabel").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
    if (c.ownedByOther) {
      ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(platform::UserTempFolder(), c.usable ? folder + "/" : "");
  }
}

TEST(UserRuntimeFolder, XdgRuntimeDirIsTakenWithASlash) {
  const ScopedEnvironment runtime("XDG_RUNTIME_DIR", "/run/user/1234");
  EXPECT_EQ(platform::UserRuntimeFolder(), "/run/user/1234/");
}

TEST(UserRuntimeFolder, WithoutXdgRuntimeDirAPrivateFolderIsMade) {
  const ScratchFolder scratch;
  const ScopedEnvironment runtime("XDG_RUNTIME_DIR", nullptr);
  const ScopedEnvironment tmpdir("TMPDIR", scratch.path().c_str());
  const std::string folder = platform::UserRuntimeFolder();
  EXPECT_EQ(folder, scratch.Path("ostrabel-runtime-" + std::to_string(geteuid()) + "/"));
  EXPECT_EQ(PermissionsOf(folder), 0700u);

  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
  EXPECT_EQ(platform::UserRuntimeFolder(), "");
}

}  // namespace
