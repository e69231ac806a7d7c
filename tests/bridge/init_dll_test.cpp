// InitDLL: choosing, verifying, copying and loading a module under a token.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <regex>
#include <utility>

#include "agent/log/log_store.h"
#include "bridge_fixture.h"
#include "platform/text_conversion.h"
#include "platform/tick_counter.h"

namespace bridge_test {
namespace {

const std::string kVerifyFailed = "||-1||驗證 DLL 檔失敗||";

class InitDll : public BridgeTest {};

TEST_F(InitDll, OnlyTheTwoPrefixesChooseAModule) {
  InstallModules(true);
  platform::SetTickCountForTesting(7000);
  struct Case {
    const char* name;
    const char* fileName;  // null: refused
    int32_t kind;
  } cases[] = {
      {"DorVIKA", "DorVIKA.dll", kCardModuleKind},
      {"DorVIKA.dll", "DorVIKA.dll", kCardModuleKind},
      {"DorVIKAxyz", "DorVIKA.dll", kCardModuleKind},
      {"Quillomat", "Quillomat.dll", kLoginModuleKind},
      {"dorvika", nullptr, 0},
      {"Dor", nullptr, 0},
      {"QuillomaT", nullptr, 0},
  };
  for (const Case& c : cases) {
    const size_t tableSize = frame->PluginTable.size();
    const std::string body = Ask(std::string("InitDLL=") + c.name);
    if (c.fileName == nullptr) {
      EXPECT_EQ(body, "||-1||無效的 DLL 檔名||") << c.name;
      EXPECT_EQ(frame->PluginTable.size(), tableSize) << c.name;
      continue;
    }
    EXPECT_EQ(body, "||0||7000||") << c.name;
    EXPECT_EQ(LoggedValue("即將載入 DLL 檔名"), c.fileName) << c.name;
    ASSERT_EQ(frame->PluginTable.size(), tableSize + 1) << c.name;
    EXPECT_EQ(frame->PluginTable.back()->moduleKind, c.kind) << c.name;
  }
}

TEST_F(InitDll, LoadsAPrivateCopyAndLogsEachStep) {
  InstallModules();
  platform::SetTickCountForTesting(123456);
  frame->ServiceWaitMinutes = 7;
  const size_t mark = LogSize();
  EXPECT_EQ(Ask("InitDLL=DorVIKA"), "||0||123456||");

  const auto copies = Copies();
  ASSERT_EQ(copies.size(), 1u);
  const std::string copyName = copies[0].substr(home.tmp().size());
  EXPECT_TRUE(std::regex_match(
      copyName, std::regex("OSTRABEL\\.dll-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-"
                           "[0-9A-F]{12}")));
  EXPECT_EQ(ReadBytes(copies[0]), cardModule);
  struct stat info {};
  ASSERT_EQ(stat(copies[0].c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ASSERT_EQ(frame->PluginTable.size(), 1u);
  const PluginModule& record = *Slot(0);
  EXPECT_EQ(record.moduleKind, kCardModuleKind);
  EXPECT_EQ(record.copyPath, platform::AnsiToWide(copies[0]));
  EXPECT_NE(record.moduleHandle, nullptr);
  EXPECT_TRUE(IsLoaded(record.copyPath));
  EXPECT_EQ(record.loadTick, 123456u);
  EXPECT_EQ(record.lastUseTick, 123456u);
  EXPECT_EQ(record.idleMinutes, 7);

  const std::vector<std::string> steps = {
      "- 即將載入 DLL 路徑 = " + agentDirectory,
      "- 即將載入 DLL 檔名 = DorVIKA.dll",
      "- 驗證 DLL 檔成功",
      "- 即將載入 DLL TEMP 路徑 = " + home.tmp(),
      "- 即將載入 DLL TEMP 檔名 = " + copyName,
      "- 設定服務等候時間(分鐘) : = 7(0x00000007)",
      "- 執行結果 = ||0||123456||",
  };
  std::vector<std::string> logged;
  for (const std::string& line : LogFrom(mark)) {
    if (std::find(steps.begin(), steps.end(), line) != steps.end()) {
      logged.push_back(line);
    }
  }
  EXPECT_EQ(logged, steps);
}

TEST_F(InitDll, AListNameInOtherCaseChecksTheFileThatIsLoaded) {
  PutModule("DorVIKA.dll", cardModule);
  WriteList({{"dorvika.DLL", cardModule}});  // list names compare case-insensitively, files do not
  LoadCardModule(4000);
  ASSERT_EQ(Copies().size(), 1u);
  EXPECT_EQ(ReadBytes(Copies()[0]), cardModule);
}

TEST_F(InitDll, AFailedCheckAnswersAndLeavesNothing) {
  Bytes longer = cardModule;
  longer.push_back(0);
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string logLine;
  } cases[] = {
      {"no list", [] {}, "ERROR - 載入 Ostrabel.ini 失敗"},
      {"not listed",
       [&] {
         PutModule("DorVIKA.dll", cardModule);
         WriteList({{"Quillomat.dll", loginModule}});
       },
       "ERROR - 驗證 DLL 檔失敗，未知的 DLL 檔 = DorVIKA.dll"},
      {"one byte longer",
       [&] {
         PutModule("DorVIKA.dll", longer);
         WriteList({{"DorVIKA.dll", cardModule}});
       },
       "ERROR - 驗證 DLL 檔失敗，驗證值不符"},
      {"listed but missing",
       [&] {
         std::remove((agentDirectory + "DorVIKA.dll").c_str());
         WriteList({{"DorVIKA.dll", cardModule}});
       },
       "ERROR - 驗證 DLL 檔失敗，驗證值不符"},
  };
  for (const Case& c : cases) {
    c.arrange();
    const size_t mark = LogSize();
    EXPECT_EQ(Ask("InitDLL=DorVIKA"), kVerifyFailed) << c.what;
    const auto lines = LogFrom(mark);
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.logLine), lines.end()) << c.what;
    EXPECT_TRUE(Copies().empty()) << c.what;
    EXPECT_TRUE(frame->PluginTable.empty()) << c.what;
  }
}

TEST_F(InitDll, TwoLoadsGiveTwoCopiesAndTwoTokensEvenInOneTick) {
  InstallModules();
  platform::SetTickCountForTesting(5000);
  EXPECT_EQ(AskAll({"InitDLL=DorVIKA", "InitDLL=DorVIKA"}),
            (std::vector<std::string>{"||0||5000||", "||0||5000||"}));
  platform::AdvanceTickCountForTesting(1);
  EXPECT_EQ(Ask("InitDLL=DorVIKA"), "||0||5001||");
  ASSERT_EQ(Copies().size(), 3u);
  ASSERT_EQ(frame->PluginTable.size(), 3u);
  const std::u16string first = Slot(0)->copyPath;
  const std::u16string second = Slot(1)->copyPath;
  for (const auto& slot : frame->PluginTable) {
    EXPECT_TRUE(IsLoaded(slot->copyPath));
  }

  // A shared token reaches the lowest slot first; each token reaches its own record.
  EXPECT_EQ(Ask("ExecMethod=finalize&DLLToken=5000"), "||0||Finalized||");
  EXPECT_EQ(Slot(0), nullptr);
  EXPECT_NE(Slot(1), nullptr);
  EXPECT_FALSE(IsLoaded(first));
  EXPECT_TRUE(IsLoaded(second));
  EXPECT_EQ(Ask("ExecMethod=finalize&DLLToken=5001"), "||0||Finalized||");
  EXPECT_EQ(Slot(2), nullptr);
  EXPECT_EQ(Copies(), std::vector<std::string>{platform::WideToAnsi(second)});
}

// Forwards to the real viewer and acts once the log shows the check has passed.
class ActAfterCheck : public LogView {
 public:
  ActAfterCheck(LogView& inner, std::function<void()> act) : inner_(inner), act_(std::move(act)) {}
  bool IsClearEnabled() const override { return inner_.IsClearEnabled(); }
  void EnableClear() override { inner_.EnableClear(); }
  void EntriesChanged(const std::deque<std::u16string>& entries) override {
    inner_.EntriesChanged(entries);
    if (act_ && entries.back().ends_with(u" - 驗證 DLL 檔成功\r\n")) {
      std::exchange(act_, nullptr)();
    }
  }

 private:
  LogView& inner_;
  std::function<void()> act_;
};

TEST_F(InitDll, AFileSwappedAfterTheCheckIsNotWhatGetsLoaded) {
  InstallModules();
  LogView* viewer = frame->LogViewer;
  ActAfterCheck swap(*viewer, [&] { PutModule("DorVIKA.dll", loginModule); });
  frame->LogViewer = &swap;
  const std::string body = Ask("InitDLL=DorVIKA");
  frame->LogViewer = viewer;

  EXPECT_EQ(ReadBytes(agentDirectory + "DorVIKA.dll"), loginModule);  // the swap happened
  EXPECT_TRUE(body.starts_with("||0||")) << body;
  const auto copies = Copies();
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(ReadBytes(copies[0]), cardModule);
}

TEST_F(InitDll, ACopyThatDoesNotLoadStillGetsAToken) {
  const Bytes notAModule = {'n', 'o', 't', ' ', 'E', 'L', 'F'};
  PutModule("DorVIKA.dll", notAModule);
  WriteList({{"DorVIKA.dll", notAModule}});
  const std::string token = LoadCardModule(9000);
  ASSERT_EQ(frame->PluginTable.size(), 1u);
  EXPECT_EQ(Slot(0)->moduleHandle, nullptr);
  ASSERT_EQ(Copies().size(), 1u);

  EXPECT_EQ(AskAll({"ExecMethod=GetDllVersion&DLLToken=" + token,
                    "ExecMethod=finalize&DLLToken=" + token}),
            (std::vector<std::string>{"||-1||null||", "||0||Finalized||"}));
  EXPECT_TRUE(Copies().empty());
}

TEST_F(InitDll, WithoutATemporaryFolderNothingIsLoaded) {
  InstallModules();
  frame->TempDirectory.clear();
  EXPECT_EQ(Ask("InitDLL=DorVIKA"), "||-1||指定的 DLL 無法載入||");
  EXPECT_TRUE(frame->PluginTable.empty());
}

}  // namespace
}  // namespace bridge_test
