// The expiry rule and the copy names.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "agent/bridge/plugin_loading.h"

namespace {

TEST(IsModuleExpired, ComparesTheIdleTimeWithTheLimitAcrossTheWrap) {
  struct Case {
    int32_t idleMinutes;
    uint32_t lastUse;
    uint32_t now;
    bool expired;
  } cases[] = {
      {1, 1000, 61000, false},  // exactly the limit is not beyond it
      {1, 1000, 61001, true},
      {30, 5000, 5000 + 30 * 60000 + 1, true},
      {0, 0, 0xFFFFFFFF, false},  // 0 or less never expires
      {-1, 0, 0xFFFFFFFF, false},
      // The last use shortly before the counter wraps.
      {1, 0xFFFFFFF0, 0xFFFFFFF5, false},
      {1, 0xFFFFFFF0, 59000, false},
      {1, 0xFFFFFFF0, 60000 - 16 + 1, true},
      {1, 0xFFFEC780, 10000, true},  // 90 s, of which 80 s before the wrap
      // A limit beyond 32 bits of milliseconds must not wrap into a short one.
      {71583, 0, 0xFFFFFFFF, false},
      {0x7FFFFFFF, 0, 0xFFFFFFFF, false},
  };
  for (const Case& c : cases) {
    PluginModule record;
    record.idleMinutes = c.idleMinutes;
    record.lastUseTick = c.lastUse;
    EXPECT_EQ(IsModuleExpired(record, c.now), c.expired)
        << c.idleMinutes << " min, last use " << c.lastUse << ", now " << c.now;
  }
}

TEST(CopyNames, AreRandomUpperCaseHexInGroups) {
  EXPECT_TRUE(std::regex_match(RandomHex(3), std::regex("[0-9A-F]{6}")));
  EXPECT_EQ(RandomHex(0), "");
  const std::regex shape("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string suffix = MakeCopySuffix();
    EXPECT_TRUE(std::regex_match(suffix, shape)) << suffix;
    seen.insert(suffix);
  }
  EXPECT_EQ(seen.size(), 100u);  // no clock seeds them: names drawn at once still differ
}

}  // namespace
