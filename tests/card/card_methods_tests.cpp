#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "agent/bridge/card_methods.h"
#include "agent/bridge/dispatch.h"
#include "card/card_test_frame.h"
#include "platform/scratch_folder.h"

namespace {

using card_test::TestFrame;

// Loaded once and kept: the module's static texts must outlive every call.
void* CardModule() {
  static void* module = dlopen(CARD_MODULE_FIXTURE, RTLD_NOW | RTLD_LOCAL);
  return module;
}

class CardMethodTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CardModule(), nullptr) << dlerror();
    record.moduleKind = kCardModuleKind;
    record.moduleHandle = CardModule();
  }

  // Runs the query (the text after "?") as ExecMethod would reach the card module.
  void Call(const std::string& query, SSL* connection) {
    std::string writable = query;
    RequestFields fields;
    ReadQueryFields(writable.data(), fields);
    CallCardMethod(frame, record, connection, fields);
  }
  std::string Answer(const std::string& query) {
    Call(query, frame.connection());
    return frame.LastAnswer();
  }

  // The calls the module recorded since the last look.
  std::vector<std::string> TakeCalls() {
    std::ifstream in(callLogPath);
    std::vector<std::string> calls;
    for (std::string line; std::getline(in, line);) {
      calls.push_back(line);
    }
    std::ofstream(callLogPath, std::ios::trunc);
    return calls;
  }

  platform_test::ScratchFolder scratch;
  std::string callLogPath = scratch.Path("calls.txt");
  platform_test::ScopedEnvironment callLog{"FIXTURE_CALL_LOG", callLogPath.c_str()};
  TestFrame frame;
  PluginModule record;
};

struct ShapeCase {
  const char* query;
  const char* answer;
  const char* call;  // as the module recorded it
};

TEST_F(CardMethodTest, EachShapeGetsItsArgumentsAndTurnsItsResultIntoTheAnswer) {
  const ShapeCase cases[] = {
      // Text results; a null or empty text answers "null".
      {"ExecMethod=GetDLLVersion", "||0||DorVIKA:GetDLLVersion||", "_GetDLLVersion@0"},
      {"ExecMethod=GetErrorMsg", "||0||null||", "GetErrorMsg"},
      {"ExecMethod=GenRandom", "||0||null||", "GenRandom"},
      // Integer results: the code stays 0 whatever the module returns.
      {"ExecMethod=GetErrorCode", "||0||-1||", "_GetErrorCode@0"},
      {"ExecMethod=GetCardStatus", "||0||-5||", "GetCardStatus"},
      {"ExecMethod=ConnectCard", "||0||1000||", "ConnectCard"},
      {"ExecMethod=DisConnectCard", "||0||1001||", "_DisConnectCard@0"},
      // An integer argument is read from Param1 as wcstol reads a decimal number.
      {"ExecMethod=ReadEF1001&Param1=3", "||0||DorVIKA:ReadEF1001:3||", "_ReadEF1001@4\t3"},
      {"ExecMethod=ReadEF1001", "||0||DorVIKA:ReadEF1001:0||", "_ReadEF1001@4\t0"},
      {"ExecMethod=ReadEF1001&Param1=abc", "||0||DorVIKA:ReadEF1001:0||", "_ReadEF1001@4\t0"},
      {"ExecMethod=ReadEF1001&Param1=%2D7", "||0||DorVIKA:ReadEF1001:-7||", "_ReadEF1001@4\t-7"},
      {"ExecMethod=ReadEF1001&Param1=++%2B42x9", "||0||DorVIKA:ReadEF1001:42||",
       "_ReadEF1001@4\t42"},
      {"ExecMethod=ReadEF1001&Param1=99999999999", "||0||DorVIKA:ReadEF1001:2147483647||",
       "_ReadEF1001@4\t2147483647"},
      {"ExecMethod=ReadEF1001&Param1=%2D99999999999", "||0||DorVIKA:ReadEF1001:-2147483648||",
       "_ReadEF1001@4\t-2147483648"},
      {"ExecMethod=ReadEF1001&Param2=5", "||0||DorVIKA:ReadEF1001:0||", "_ReadEF1001@4\t0"},
      // Text arguments: the decoded UTF-16 text, or null when the parameter is empty.
      {"ExecMethod=TermAuth&Param2=x", "||0||1002||", "_TermAuth@8\t(null)\tx"},
      {"ExecMethod=TermAuth&Param1=%E4%B8%AD&Param2=a+b", "||0||1002||", "_TermAuth@8\t中\ta b"},
      {"ExecMethod=ResetANPIN&Param1=1234", "||0||1003||", "_ResetANPIN@4\t1234"},
      {"ExecMethod=ChangeANPin&Param1=1111&Param2=2222", "||0||1004||", "ChangeANPin\t1111\t2222"},
      {"ExecMethod=VerifyANPin&Param1=%FF", "||0||1005||", "VerifyANPin\t(null)"},
      {"ExecMethod=VerifyANPin&Param1=12&Param3=x", "||0||1005||", "VerifyANPin\t12"},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(Answer(c.query), c.answer);
    EXPECT_EQ(TakeCalls(), std::vector<std::string>{c.call});
  }
}

TEST_F(CardMethodTest, PlainExportWinsOverDecoratedAndDecoratedOnlyIsFound) {
  // The fixture must really lack the plain names, or the decorated lookup goes untested.
  for (const char* plain : {"GetDLLVersion", "GetErrorCode", "DisConnectCard", "ReadEF1001",
                            "TermAuth", "ResetANPIN"}) {
    EXPECT_EQ(dlsym(CardModule(), plain), nullptr) << plain;
  }
  EXPECT_NE(dlsym(CardModule(), "_GetDllVersion$0"), nullptr);

  EXPECT_EQ(Answer("ExecMethod=GetDllVersion"), "||0||DorVIKA:GetDllVersion||");
  EXPECT_EQ(TakeCalls(), std::vector<std::string>{"GetDllVersion"});
  EXPECT_EQ(ResolveMethodExport(CardModule(), "GetErrorCode", 0),
            dlsym(CardModule(), "_GetErrorCode$0"));
  // The decorated name carries the argument bytes: other bytes are another export.
  EXPECT_EQ(ResolveMethodExport(CardModule(), "GetErrorCode", 4), nullptr);
  EXPECT_EQ(ResolveMethodExport(CardModule(), "ReadEF1002", 4), nullptr);
  EXPECT_EQ(ResolveMethodExport(CardModule(), "", 0), nullptr);
  EXPECT_EQ(ResolveMethodExport(CardModule(), nullptr, 0), nullptr);
  EXPECT_EQ(ResolveMethodExport(nullptr, "GetDllVersion", 0), nullptr);
}

TEST_F(CardMethodTest, NamesOutsideTheTableAndModulesWithoutTheExportAreNotCalled) {
  // The module exports "getversion", but only the table's exact names are looked up.
  for (const char* query : {"ExecMethod=getversion", "ExecMethod=GETVERSION",
                            "ExecMethod=VerifyANPin2", "ExecMethod=_VerifyANPin@4"}) {
    SCOPED_TRACE(query);
    EXPECT_EQ(Answer(query), "||-1||null||");
    EXPECT_EQ(TakeCalls(), std::vector<std::string>{});
  }

  // The test program itself: a loaded module without any of the card exports.
  record.moduleHandle = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(record.moduleHandle, nullptr);
  EXPECT_EQ(Answer("ExecMethod=GetCardStatus"), "||-1||null||");
  dlclose(record.moduleHandle);
}

TEST_F(CardMethodTest, GetVersionIsAnsweredByTheAgentEvenWithoutAModule) {
  EXPECT_EQ(Answer("ExecMethod=GetVersion"), "||0||1.2.0.0||");
  EXPECT_EQ(TakeCalls(), std::vector<std::string>{});  // the module's own GetVersion stays unused

  // A copy that failed to load leaves the record without a module handle.
  record.moduleHandle = dlopen(UNLOADABLE_CARD_MODULE_FIXTURE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_EQ(record.moduleHandle, nullptr);
  EXPECT_EQ(Answer("ExecMethod=GetVersion"), "||0||1.2.0.0||");
  EXPECT_EQ(Answer("ExecMethod=GetDllVersion"), "||-1||null||");
  EXPECT_EQ(Answer("ExecMethod=VerifyANPin&Param1=1"), "||-1||null||");
}

TEST_F(CardMethodTest, WithoutAConnectionNothingIsLoggedOrCalled) {
  Call("ExecMethod=ConnectCard", nullptr);
  EXPECT_TRUE(frame.LogLines.empty());
  EXPECT_EQ(TakeCalls(), std::vector<std::string>{});
}

TEST_F(CardMethodTest, LogsTheMethodItsParametersAndItsResult) {
  Call("ExecMethod=TermAuth&Param2=x&Param1", frame.connection());
  const std::vector<std::string> lines = frame.Lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(
      std::vector<std::string>(lines.begin(), lines.begin() + 5),
      (std::vector<std::string>{"執行 Function = TermAuth", "參數 Param1 = null(0x00000000)",
                                "參數 Param2 = x", "執行結果 = 1002", "執行結果 = ||0||1002||"}));
}

TEST_F(CardMethodTest, PinsNeverReachTheLog) {
  const char* queries[] = {
      "ExecMethod=VerifyANPin&Param1=1234",
      "ExecMethod=ResetANPIN&Param1=1234",
      "ExecMethod=ChangeANPin&Param1=1234&Param2=%31%32%33%34",
      "ExecMethod=ChangeANPin&Param2=1234",
  };
  for (const char* query : queries) {
    SCOPED_TRACE(query);
    frame.LogLines.clear();
    Call(query, frame.connection());
    ASSERT_FALSE(frame.LogLines.empty());
    for (const std::string& line : frame.Lines()) {
      EXPECT_EQ(line.find("1234"), std::string::npos) << line;
    }
    // The module still gets the PIN itself.
    EXPECT_NE(TakeCalls().at(0).find("1234"), std::string::npos);
  }
}

TEST(CardModuleFixture, UnloadableCopyIsRefusedByTheLoader) {
  ASSERT_EQ(access(UNLOADABLE_CARD_MODULE_FIXTURE, R_OK), 0);
  void* module = dlopen(UNLOADABLE_CARD_MODULE_FIXTURE, RTLD_LAZY | RTLD_LOCAL);
  EXPECT_EQ(module, nullptr);
  if (module != nullptr) {
    dlclose(module);
  }
}

}  // namespace
