// ExecMethod: tokens, finalize, and records kept alive by a call in progress.
#include <gtest/gtest.h>

#include "agent/bridge/idle_modules.h"
#include "agent/bridge/plugin_loading.h"
#include "bridge_fixture.h"
#include "platform/tick_counter.h"

namespace bridge_test {
namespace {

const std::string kNoToken = "||-1||沒有指定 DllToken, 無法執行||";
const std::string kUnknown = "||-1||OKKK||";
const std::string kFinalized = "||0||Finalized||";

class ExecMethod : public BridgeTest {};

TEST_F(ExecMethod, TokensAreReadLikeAtoi) {
  InstallModules();
  LoadCardModule(12);
  const size_t mark = LogSize();
  const std::pair<std::string, std::string> cases[] = {
      {"ExecMethod=finalize", kNoToken},
      {"ExecMethod=finalize&DLLToken=", kNoToken},
      {"ExecMethod=finalize&DLLToken=abc", kNoToken},
      {"ExecMethod=finalize&DLLToken=0", kNoToken},
      {"ExecMethod=finalize&DLLToken=%31%32", kNoToken},  // tokens are not decoded
      {"ExecMethod=finalize&DLLToken=13", kUnknown},
      {"ExecMethod=finalize&DLLToken=99999999999", kUnknown},
      {"ExecMethod=finalize&DLLToken=+12x", kFinalized},
      {"ExecMethod=finalize&DLLToken=12", kUnknown},
  };
  std::vector<std::string> queries, expected;
  for (const auto& [query, body] : cases) {
    queries.push_back(query);
    expected.push_back(body);
  }
  EXPECT_EQ(AskAll(queries), expected);
  size_t noTokenLines = 0;
  for (const std::string& line : LogFrom(mark)) {
    noTokenLines += line == "ERROR - 沒有指定 DllToken, 無法執行";
  }
  EXPECT_EQ(noTokenLines, 5u);
}

TEST_F(ExecMethod, RoutesByModuleKindAndRefreshesTheLastUse) {
  InstallModules(true);
  const std::string card = LoadCardModule(1000);
  platform::SetTickCountForTesting(2000);
  const std::string login = "2000";
  ASSERT_EQ(Ask("InitDLL=Quillomat"), "||0||" + login + "||");
  platform::SetTickCountForTesting(9000);
  EXPECT_EQ(
      AskAll({"ExecMethod=GetCardStatus&DLLToken=" + card, "ExecMethod=GetVersion&DLLToken=" + card,
              "ExecMethod=GetVersion&DLLToken=" + login}),
      (std::vector<std::string>{"||0||-5||", "||0||1.2.0.0||", "||-1||null||"}));
  EXPECT_EQ(Slot(0)->lastUseTick, 9000u);
  EXPECT_EQ(Slot(1)->lastUseTick, 9000u);
  EXPECT_EQ(Slot(0)->callsInProgress, 0);
}

TEST_F(ExecMethod, FinalizeReleasesTheModuleAndDeletesItsCopyOnce) {
  InstallModules();
  // Past about 24.8 days of uptime the tick reads as a negative token.
  const std::string token = LoadCardModule(static_cast<uint32_t>(-2147000000));
  EXPECT_EQ(token, "-2147000000");
  const std::u16string copy = Slot(0)->copyPath;
  ASSERT_TRUE(IsLoaded(copy));

  EXPECT_EQ(
      AskAll({"ExecMethod=finalize&DLLToken=" + token, "ExecMethod=finalize&DLLToken=" + token}),
      (std::vector<std::string>{kFinalized, kUnknown}));
  ASSERT_EQ(frame->PluginTable.size(), 1u);  // slots are emptied, never removed
  EXPECT_EQ(Slot(0), nullptr);
  EXPECT_FALSE(IsLoaded(copy));
  EXPECT_TRUE(Copies().empty());
}

TEST_F(ExecMethod, AFinalizeDuringACallWaitsForTheCallToReturn) {
  InstallModules();
  const std::string token = LoadCardModule(3000);
  PluginModule* record = Slot(0);
  const std::u16string copy = record->copyPath;
  {
    // A call into the module that waits in a modal loop, which serves the finalize.
    ModuleCall call(*frame, *record);
    EXPECT_EQ(AskAll({"ExecMethod=finalize&DLLToken=" + token, "ExecMethod=x&DLLToken=" + token}),
              (std::vector<std::string>{kFinalized, kUnknown}));
    EXPECT_EQ(Slot(0), record);
    EXPECT_NE(record->moduleHandle, nullptr);
    EXPECT_TRUE(IsLoaded(copy));
    EXPECT_EQ(Copies().size(), 1u);
  }
  EXPECT_EQ(Slot(0), nullptr);
  EXPECT_FALSE(IsLoaded(copy));
  EXPECT_TRUE(Copies().empty());
}

TEST_F(ExecMethod, TheSweepDuringACallReleasesWhenTheLastCallReturns) {
  InstallModules();
  frame->ServiceWaitMinutes = 1;
  LoadCardModule(3000);
  PluginModule* record = Slot(0);
  const std::u16string copy = record->copyPath;
  auto outer = std::make_unique<ModuleCall>(*frame, *record);
  const size_t mark = LogSize();
  {
    ModuleCall nested(*frame, *record);
    platform::AdvanceTickCountForTesting(60001);
    ExpireIdleModules(*frame);
    ExpireIdleModules(*frame);  // found once
    EXPECT_EQ(LogFrom(mark),
              std::vector<std::string>{"- 偵測到服務作業已過期, DLL Handle = 3000(0x00000BB8)"});
    EXPECT_TRUE(IsLoaded(copy));
  }
  EXPECT_TRUE(IsLoaded(copy));  // the outer call is still running
  EXPECT_EQ(Copies().size(), 1u);
  outer.reset();
  EXPECT_EQ(Slot(0), record);  // released, not dropped
  EXPECT_EQ(record->moduleHandle, nullptr);
  EXPECT_FALSE(IsLoaded(copy));
  EXPECT_TRUE(Copies().empty());
}

// The PIN goes to the module, but no line of the log shows it: not the request text, not the
// request line, not the parameters.
TEST_F(ExecMethod, PinsNeverReachTheLog) {
  InstallModules(true);
  const std::string card = LoadCardModule(500);
  const size_t mark = LogSize();
  EXPECT_EQ(AskAll({"ExecMethod=VerifyANPin&DLLToken=" + card + "&Param1=1234",
                    "ExecMethod=ChangeANPin&DLLToken=" + card + "&Param1=1234&Param2=5678"}),
            (std::vector<std::string>{"||0||1005||", "||0||1004||"}));
  const auto lines = LogFrom(mark);
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("1234"), std::string::npos) << line;
    EXPECT_EQ(line.find("5678"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace bridge_test
