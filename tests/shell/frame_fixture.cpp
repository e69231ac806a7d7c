#include "frame_fixture.h"

#include "platform/text_conversion.h"
#include "platform/tick_counter.h"

void FrameTest::SetUp() {
  port = testing_support::FindFreePortRun();
  ASSERT_NE(port, 0);
  frame = std::make_unique<RecordingFrame>(app);
  frame->ListenPort = port;
  ASSERT_TRUE(frame->OnCreate());
  frame->LogLineLimit = 100000;
}

void FrameTest::TearDown() {
  frame.reset();
  platform::SetTickCountForTesting(std::nullopt);
}

std::vector<std::string> FrameTest::LogFrom(size_t from) const {
  std::vector<std::string> lines;
  for (size_t i = from; i < frame->LogLines.size(); ++i) {
    std::string line = platform::WideToAnsi(frame->LogLines[i]);
    const size_t stamp = line.find("] ");
    if (line.starts_with("[") && stamp != std::string::npos) {
      line.erase(0, stamp + 2);
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

std::string FrameTest::LoggedValue(const std::string& name) const {
  std::string found;
  for (const std::string& line : LogFrom()) {
    for (const std::string& prefix : {"- " + name + " = ", "ERROR - " + name + " = "}) {
      if (line.starts_with(prefix)) {
        found = line.substr(prefix.size());
      }
    }
  }
  return found;
}
