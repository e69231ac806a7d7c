#include <gtest/gtest.h>

#include <time.h>

#include <cstdint>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "agent/log/log_writer.h"
#include "platform/text_conversion.h"

namespace {

class FakeLogView : public LogView {
 public:
  bool IsClearEnabled() const override { return clear_enabled; }
  void EnableClear() override { clear_enabled = true; }
  void EntriesChanged(const std::deque<std::u16string>& entries) override {
    ++changes;
    last_entries = &entries;
  }

  bool clear_enabled = true;
  int changes = 0;
  const std::deque<std::u16string>* last_entries = nullptr;
};

constexpr LogTime kFixedTime{2021, 3, 5, 9, 7, 2, 45};
const std::u16string kStamp = u"[2021/03/05 09:07:02.045]";

class LogWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    SetLogTimeForTesting(&kFixedTime);
    store.LogViewer = &view;
  }
  void TearDown() override { SetLogTimeForTesting(nullptr); }

  std::vector<std::u16string> Entries() const {
    return {store.LogLines.begin(), store.LogLines.end()};
  }

  FakeLogView view;
  LogStore store;
};

std::u16string Fillers(int count) {
  return std::u16string(static_cast<size_t>(count) * 3, u' ');
}
std::u16string Spaces(int count) {
  return std::u16string(static_cast<size_t>(count), u' ');
}

const uint8_t kSixteenBytes[] = {0x00, 0x1f, 0x20, 0x7e, 0x7f, 0x80, 0xff, 'a',
                                 'b',  'c',  'd',  'e',  'f',  'g',  'h',  'i'};
const uint8_t kSeventeenBytes[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8',
                                   '9', 'A', 'B', 'C', 'D', 'E', 'F', 'G'};
const uint8_t kThreeBytes[] = {0x41, 0x42, 0x0A};

struct FormatCase {
  const char* name;
  std::function<void(LogStore&)> log;
  std::vector<std::u16string> entries;
};

const FormatCase kFormatCases[] = {
    {"Message",
     [](LogStore& s) { LogMessage(s, "WSAStartup success"); },
     {kStamp + u" - WSAStartup success\r\n"}},
    {"MessageInAnsiCodePage",
     [](LogStore& s) { LogMessage(s, "建立連線 ok"); },
     {kStamp + u" - 建立連線 ok\r\n"}},
    {"MessageNull", [](LogStore& s) { LogMessage(s, nullptr); }, {kStamp + u" - (null)\r\n"}},
    {"Value",
     [](LogStore& s) { LogValue(s, "InitDLL", "Quillomat"); },
     {kStamp + u" - InitDLL = Quillomat\r\n"}},
    {"ValueNullValue",
     [](LogStore& s) { LogValue(s, "Param1", nullptr); },
     {kStamp + u" - Param1 = (null)\r\n"}},
    {"ValueNullName",
     [](LogStore& s) { LogValue(s, nullptr, "x"); },
     {kStamp + u" - (null) = x\r\n"}},
    {"WideValue",
     [](LogStore& s) { LogWideValue(s, "Param2", u"卡片 😀 data"); },
     {kStamp + u" - Param2 = 卡片 😀 data\r\n"}},
    {"WideValueNull",
     [](LogStore& s) { LogWideValue(s, "Param2", nullptr); },
     {kStamp + u" - Param2 = \r\n"}},
    {"NumberPort",
     [](LogStore& s) { LogNumber(s, "ListenPort", 64001); },
     {kStamp + u" - ListenPort = 64001(0x0000FA01)\r\n"}},
    {"NumberMinusOne",
     [](LogStore& s) { LogNumber(s, "rc", -1); },
     {kStamp + u" - rc = -1(0xFFFFFFFF)\r\n"}},
    {"NumberMinimum",
     [](LogStore& s) { LogNumber(s, "rc", INT32_MIN); },
     {kStamp + u" - rc = -2147483648(0x80000000)\r\n"}},
    {"Error",
     [](LogStore& s) { LogError(s, "bind failed"); },
     {kStamp + u" ERROR - bind failed\r\n"}},
    {"ErrorText",
     [](LogStore& s) { LogErrorText(s, u"找不到函式 _sign@8"); },
     {kStamp + u" ERROR - 找不到函式 _sign@8\r\n"}},
    {"ErrorValue",
     [](LogStore& s) { LogErrorValue(s, "驗證 DLL 檔失敗，未知的 DLL 檔", "evil.dll"); },
     {kStamp + u" ERROR - 驗證 DLL 檔失敗，未知的 DLL 檔 = evil.dll\r\n"}},
    {"ErrorValueNull",
     [](LogStore& s) { LogErrorValue(s, "name", nullptr); },
     {kStamp + u" ERROR - name = (null)\r\n"}},
    {"ErrorNumber",
     [](LogStore& s) { LogErrorNumber(s, "SSL_accept", -1); },
     {kStamp + u" ERROR - SSL_accept = -1(0xFFFFFFFF)\r\n"}},
    {"AppendStoresLineUnchanged",
     [](LogStore& s) { AppendLogLine(s, "raw\tline 卡"); },
     {u"raw\tline 卡"}},
    {"AppendNull", [](LogStore& s) { AppendLogLine(s, nullptr); }, {u""}},
    {"HexDumpThreeBytes",
     [](LogStore& s) { LogHexDump(s, "body", kThreeBytes, 3); },
     {kStamp + u" DEBUG body : (len=3)\n",
      u" 0x00000000 - 41 42 0a" + Fillers(13) + u" : AB." + Spaces(13) + u"\n"}},
    {"HexDumpFullRow",
     [](LogStore& s) { LogHexDump(s, "data", kSixteenBytes, 16); },
     {kStamp + u" DEBUG data : (len=16)\n",
      u" 0x00000000 - 00 1f 20 7e 7f 80 ff 61 62 63 64 65 66 67 68 69 : .. ~...abcdefghi\n"}},
    {"HexDumpTwoRows",
     [](LogStore& s) { LogHexDump(s, "data", kSeventeenBytes, 17); },
     {kStamp + u" DEBUG data : (len=17)\n",
      u" 0x00000000 - 30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46 : 0123456789ABCDEF\n"
      u" 0x00000010 - 47" +
          Fillers(15) + u" : G" + Spaces(15) + u"\n"}},
    {"HexDumpNullData",
     [](LogStore& s) { LogHexDump(s, "data", nullptr, 0); },
     {kStamp + u" DEBUG data : (len=0)\n", u""}},
    {"HexDumpZeroLength",
     [](LogStore& s) { LogHexDump(s, "data", kThreeBytes, 0); },
     {kStamp + u" DEBUG data : (len=0)\n", u""}},
    {"HexDumpNegativeLength",
     [](LogStore& s) { LogHexDump(s, nullptr, kThreeBytes, -5); },
     {kStamp + u" DEBUG (null) : (len=-5)\n", u""}},
};

void PrintTo(const FormatCase& c, std::ostream* os) {
  *os << c.name;
}

class LogFormatTest : public LogWriterTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(LogFormatTest, StoresExactEntriesAndTellsTheViewer) {
  GetParam().log(store);
  EXPECT_EQ(Entries(), GetParam().entries);
  EXPECT_EQ(view.changes, static_cast<int>(GetParam().entries.size()));
  EXPECT_EQ(view.last_entries, &store.LogLines);
}

TEST_P(LogFormatTest, DropsTheLineWithoutAViewer) {
  store.LogViewer = nullptr;
  GetParam().log(store);
  EXPECT_TRUE(store.LogLines.empty());
  EXPECT_EQ(view.changes, 0);
}

INSTANTIATE_TEST_SUITE_P(Operations, LogFormatTest, testing::ValuesIn(kFormatCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogWriterTest, LongTextsAreNeverCut) {
  const std::string long_value(100000, 'v');
  LogValue(store, std::string(5000, 'n').c_str(), long_value.c_str());
  LogWideValue(store, "w", std::u16string(50000, u'卡').c_str());
  ASSERT_EQ(store.LogLines.size(), 2u);
  EXPECT_EQ(store.LogLines[0], kStamp + u" - " + std::u16string(5000, u'n') + u" = " +
                                   std::u16string(100000, u'v') + u"\r\n");
  EXPECT_EQ(store.LogLines[1], kStamp + u" - w = " + std::u16string(50000, u'卡') + u"\r\n");
}

TEST_F(LogWriterTest, LargeHexDumpHasEveryRow) {
  const std::vector<uint8_t> data(100000, 'x');  // 6250 full rows
  LogHexDump(store, "big", data.data(), static_cast<int32_t>(data.size()));
  ASSERT_EQ(store.LogLines.size(), 2u);
  const std::u16string& dump = store.LogLines[1];
  EXPECT_EQ(dump.size(), 6250u * 80 + 6249 + 1);
  EXPECT_EQ(dump.find(u" 0x00000000 - 78 78"), 0u);
  EXPECT_NE(dump.find(u"\n 0x000185f0 - 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 : "),
            std::u16string::npos);
  EXPECT_TRUE(dump.ends_with(u" : xxxxxxxxxxxxxxxx\n"));
}

std::string LocalDateNow() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char date[32];
  strftime(date, sizeof date, "%Y/%m/%d", &local);
  return date;
}

TEST_F(LogWriterTest, RealClockGivesPaddedLocalTime) {
  SetLogTimeForTesting(nullptr);
  const std::string date_before = LocalDateNow();
  LogMessage(store, "now");
  const std::string date_after = LocalDateNow();
  ASSERT_EQ(store.LogLines.size(), 1u);
  const std::string line = platform::WideToAnsi(store.LogLines[0]);
  const std::regex layout(R"(\[(\d{4}/\d\d/\d\d) \d\d:\d\d:\d\d\.\d{3}\] - now\r\n)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(line, match, layout)) << line;
  EXPECT_TRUE(match[1] == date_before || match[1] == date_after) << line;
}

struct TrimCase {
  const char* name;
  int32_t limit_before;
  int lines_before;
  int32_t limit_after;
  int lines_after;
  size_t expected_entries;
};

const TrimCase kTrimCases[] = {
    {"DefaultKeepsLimitPlusOne", 100, 150, 100, 0, 101},
    {"ZeroKeepsNewestOnly", 0, 5, 0, 0, 1},
    {"LoweredLimitTrimsOnNextLine", 100, 50, 10, 1, 11},
    {"NegativeCountsAsZero", -5, 5, -5, 0, 1},
    {"MinimumCountsAsZero", INT32_MIN, 3, INT32_MIN, 0, 1},
    {"RaisedLimitKeepsGrowing", 10, 20, 100, 5, 16},
};

void PrintTo(const TrimCase& c, std::ostream* os) {
  *os << c.name;
}

class LogTrimTest : public LogWriterTest, public testing::WithParamInterface<TrimCase> {};

TEST_P(LogTrimTest, KeepsTheNewestEntriesInOrder) {
  const TrimCase& c = GetParam();
  int logged = 0;
  auto log_lines = [&](int count) {
    for (int i = 0; i < count; ++i) {
      AppendLogLine(store, std::to_string(logged++).c_str());
    }
  };
  store.LogLineLimit = c.limit_before;
  log_lines(c.lines_before);
  store.LogLineLimit = c.limit_after;
  log_lines(c.lines_after);

  ASSERT_EQ(store.LogLines.size(), c.expected_entries);
  const int first = logged - static_cast<int>(c.expected_entries);
  for (size_t i = 0; i < store.LogLines.size(); ++i) {
    EXPECT_EQ(platform::WideToAnsi(store.LogLines[i]), std::to_string(first + static_cast<int>(i)));
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, LogTrimTest, testing::ValuesIn(kTrimCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogWriterTest, LineAfterClearIsKeptAloneAndEnablesClear) {
  LogMessage(store, "one");
  LogMessage(store, "two");
  view.clear_enabled = false;  // the user pressed Clear
  EXPECT_EQ(store.LogLines.size(), 2u) << "entries stay until the next line";

  LogMessage(store, "three");
  EXPECT_EQ(Entries(), std::vector<std::u16string>{kStamp + u" - three\r\n"});
  EXPECT_TRUE(view.clear_enabled);

  LogMessage(store, "four");
  EXPECT_EQ(store.LogLines.size(), 2u) << "a clear applies to one line only";
}

TEST_F(LogWriterTest, HexDumpAfterClearKeepsBothOfItsEntries) {
  LogMessage(store, "old");
  view.clear_enabled = false;
  LogHexDump(store, "body", kThreeBytes, 3);
  ASSERT_EQ(store.LogLines.size(), 2u);
  EXPECT_EQ(store.LogLines[0], kStamp + u" DEBUG body : (len=3)\n");
}

}  // namespace
