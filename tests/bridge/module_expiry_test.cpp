// Idle modules: the sweep, the drop by ExecMethod, and new limits from the options.
#include <gtest/gtest.h>

#include "agent/bridge/idle_modules.h"
#include "agent/bridge/plugin_loading.h"
#include "bridge_fixture.h"
#include "platform/tick_counter.h"

namespace bridge_test {
namespace {

constexpr uint32_t kMinute = 60000;

class ModuleExpiry : public BridgeTest {
 protected:
  // Moves the clock on and runs the idle sweep; true when the first record is still loaded.
  bool LoadedAfter(uint32_t milliseconds) {
    platform::AdvanceTickCountForTesting(milliseconds);
    ExpireIdleModules(*frame);
    return Slot(0)->moduleHandle != nullptr && IsLoaded(Slot(0)->copyPath);
  }
};

TEST_F(ModuleExpiry, TheSweepReleasesAnIdleModuleAndExecMethodDropsItsRecord) {
  InstallModules();
  frame->ServiceWaitMinutes = 1;
  const std::string token = LoadCardModule(5000);
  EXPECT_TRUE(LoadedAfter(kMinute));
  EXPECT_EQ(LoggedValue("偵測到服務作業已過期, DLL Handle"), "");
  EXPECT_FALSE(LoadedAfter(1));
  EXPECT_EQ(LoggedValue("偵測到服務作業已過期, DLL Handle"), "5000(0x00001388)");
  EXPECT_TRUE(Copies().empty());
  ASSERT_NE(Slot(0), nullptr);  // the record waits for its token

  EXPECT_EQ(Ask("ExecMethod=GetDllVersion&DLLToken=" + token), "||-1||OKKK||");
  EXPECT_EQ(Slot(0), nullptr);
}

TEST_F(ModuleExpiry, AnExpiredModuleNotYetSweptIsReleasedWhenDropped) {
  InstallModules();
  frame->ServiceWaitMinutes = 1;
  const std::string token = LoadCardModule(5000);
  const std::u16string copy = Slot(0)->copyPath;
  platform::AdvanceTickCountForTesting(kMinute + 1);
  EXPECT_EQ(Ask("ExecMethod=GetDllVersion&DLLToken=" + token), "||-1||OKKK||");
  EXPECT_EQ(Slot(0), nullptr);
  EXPECT_FALSE(IsLoaded(copy));
  EXPECT_TRUE(Copies().empty());
}

TEST_F(ModuleExpiry, ALimitOfZeroOrLessNeverExpires) {
  InstallModules();
  for (const int32_t minutes : {0, -5}) {
    frame->ServiceWaitMinutes = minutes;
    const std::string token = LoadCardModule(5000);
    EXPECT_TRUE(LoadedAfter(40u * 24 * 60 * kMinute)) << minutes;
    EXPECT_EQ(Ask("ExecMethod=finalize&DLLToken=" + token), "||0||Finalized||") << minutes;
    frame->PluginTable.clear();
  }
}

TEST_F(ModuleExpiry, IdleTimeIsMeasuredAcrossTheCounterWrap) {
  InstallModules();
  frame->ServiceWaitMinutes = 1;
  LoadCardModule(0xFFFFFFF6);  // ten milliseconds before the wrap
  EXPECT_TRUE(LoadedAfter(5));
  EXPECT_TRUE(LoadedAfter(30000));  // now past the wrap
  EXPECT_TRUE(LoadedAfter(kMinute - 30005));
  EXPECT_FALSE(LoadedAfter(1));
  EXPECT_EQ(LoggedValue("偵測到服務作業已過期, DLL Handle"), "-10(0xFFFFFFF6)");
}

TEST_F(ModuleExpiry, ANewLimitReachesOnlyModulesThatHaveNotExpired) {
  InstallModules();
  frame->ServiceWaitMinutes = 1;
  LoadCardModule(1000);
  platform::AdvanceTickCountForTesting(kMinute + 1);
  const std::string fresh = LoadCardModule(1000 + kMinute + 1);
  ApplyIdleLimit(*frame, 0);  // not a wait time: changes nothing
  EXPECT_EQ(Slot(1)->idleMinutes, 1);

  platform::AdvanceTickCountForTesting(10);
  ApplyIdleLimit(*frame, 5);
  EXPECT_EQ(Slot(0)->idleMinutes, 1);
  EXPECT_EQ(Slot(0)->lastUseTick, 1000u);
  EXPECT_EQ(Slot(1)->idleMinutes, 5);
  EXPECT_EQ(Slot(1)->lastUseTick, 1000 + kMinute + 11);

  platform::AdvanceTickCountForTesting(2 * kMinute);
  ExpireIdleModules(*frame);
  EXPECT_EQ(Slot(0)->moduleHandle, nullptr);
  EXPECT_NE(Slot(1)->moduleHandle, nullptr);
  EXPECT_EQ(Copies().size(), 1u);
}

}  // namespace
}  // namespace bridge_test
