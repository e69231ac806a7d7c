#include "platform/module_loader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/program_path.h"
#include "scratch_folder.h"

namespace {

using platform_test::ScratchFolder;

const std::string kFixturePath = LOADER_FIXTURE_PATH;

TEST(ModuleLoader, LoadsByPathAndFindsPlainAndDecoratedExports) {
  std::string error = "untouched";
  void* module = platform::LoadModule(kFixturePath, &error);
  ASSERT_NE(module, nullptr) << error;

  auto* answer = reinterpret_cast<int (*)()>(platform::FindExport(module, "LoaderFixtureAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  auto* twice = reinterpret_cast<int (*)(int)>(platform::FindExport(module, "_twice@4"));
  ASSERT_NE(twice, nullptr);
  EXPECT_EQ(twice(21), 42);

  for (const char* missing : {"Missing", "_twice@8", "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(platform::FindExport(module, missing), nullptr) << (missing ? missing : "null");
  }
  EXPECT_EQ(platform::FindExport(nullptr, "LoaderFixtureAnswer"), nullptr);
  EXPECT_TRUE(platform::FreeModule(module, &error));
}

TEST(ModuleLoader, ABareNameIsFoundBesideTheProgram) {
  // The fixture lies beside the test program, which is not on the loader's own search path.
  const std::string name = std::filesystem::path(kFixturePath).filename();
  ASSERT_EQ(platform::ProgramFolder() + name, kFixturePath);
  void* module = platform::LoadModule(name);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(platform::FindExport(module, "LoaderFixtureAnswer"), nullptr);
  EXPECT_TRUE(platform::FreeModule(module));
}

TEST(ModuleLoader, FailuresGiveNullAndTheLoadersText) {
  const ScratchFolder scratch;
  const std::string notAModule = scratch.Path("not-a-module.so");
  ASSERT_TRUE(std::filesystem::copy_file(__FILE__, notAModule));

  for (const std::string& path : {notAModule, scratch.Path("missing.so"), std::string()}) {
    std::string error;
    EXPECT_EQ(platform::LoadModule(path, &error), nullptr) << path;
    EXPECT_FALSE(error.empty()) << path;
  }
  std::string error;
  EXPECT_FALSE(platform::FreeModule(nullptr, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
