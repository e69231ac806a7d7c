#include "platform/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "scratch_folder.h"

namespace {

using platform::InstanceLock;
using platform_test::ScratchFolder;

// The descriptor this process has open on `path`, or -1.
int DescriptorOpenOn(const std::string& path) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) == path) {
      return std::stoi(entry.path().filename().string());
    }
  }
  return -1;
}

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstReleases) {
  const ScratchFolder scratch;
  InstanceLock first;
  InstanceLock second;
  EXPECT_EQ(first.Acquire("agent", scratch.path()), InstanceLock::Result::kAcquired);
  EXPECT_TRUE(first.IsHeld());
  EXPECT_EQ(second.Acquire("agent", scratch.path() + "/"), InstanceLock::Result::kAlreadyHeld);
  EXPECT_FALSE(second.IsHeld());
  EXPECT_EQ(second.Acquire("other", scratch.path()), InstanceLock::Result::kAcquired);

  first.Release();
  first.Release();
  EXPECT_FALSE(first.IsHeld());
  EXPECT_EQ(second.Acquire("agent", scratch.path()), InstanceLock::Result::kAcquired);
}

TEST(InstanceLock, LockEndsWithItsObject) {
  const ScratchFolder scratch;
  {
    InstanceLock scoped;
    ASSERT_EQ(scoped.Acquire("agent", scratch.path()), InstanceLock::Result::kAcquired);
  }
  InstanceLock later;
  EXPECT_EQ(later.Acquire("agent", scratch.path()), InstanceLock::Result::kAcquired);
}

// A started process (the restarted agent) must not inherit the lock it is about to take.
TEST(InstanceLock, LockFileIsPrivateAndCloseOnExec) {
  const ScratchFolder scratch;
  InstanceLock lock;
  ASSERT_EQ(lock.Acquire("agent", scratch.path()), InstanceLock::Result::kAcquired);
  const std::string path = scratch.Path("agent.lock");
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const int fd = DescriptorOpenOn(path);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
}

TEST(InstanceLock, DefaultFolderIsTheRuntimeFolder) {
  const ScratchFolder scratch;
  const platform_test::ScopedEnvironment runtime("XDG_RUNTIME_DIR", scratch.path().c_str());
  InstanceLock lock;
  EXPECT_EQ(lock.Acquire("agent"), InstanceLock::Result::kAcquired);
  EXPECT_TRUE(std::filesystem::exists(scratch.Path("agent.lock")));
}

TEST(InstanceLock, MissingFolderFails) {
  InstanceLock lock;
  EXPECT_EQ(lock.Acquire("agent", "/nonexistent/folder"), InstanceLock::Result::kFailed);
  EXPECT_FALSE(lock.IsHeld());
}

}  // namespace
