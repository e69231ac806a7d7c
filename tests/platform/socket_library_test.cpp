#include "platform/socket_library.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SocketLibrary, StartsAndCleanupsAreCounted) {
  ASSERT_EQ(platform::SocketLibraryReferences(), 0);
  EXPECT_EQ(platform::WSAStartup(), 0);
  EXPECT_EQ(platform::WSAStartup(), 0);
  EXPECT_EQ(platform::SocketLibraryReferences(), 2);
  EXPECT_EQ(platform::WSACleanup(), 0);
  EXPECT_EQ(platform::WSACleanup(), 0);
  EXPECT_EQ(platform::SocketLibraryReferences(), 0);
  EXPECT_EQ(platform::WSACleanup(), -1);  // one more than started
  EXPECT_EQ(platform::SocketLibraryReferences(), 0);
}

TEST(SocketLibrary, StatusIsRunning) {
  EXPECT_EQ(std::string(platform::SocketSystemStatus()), "Running");
}

}  // namespace
