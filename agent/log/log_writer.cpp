#include "agent/log/log_writer.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/text_conversion.h"

namespace {

std::optional<LogTime> fixed_log_time;

// Writes `value` as exactly `digits` decimal digits.
char* PutDigits(char* out, int value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + digits;
}

// "[YYYY/MM/DD hh:mm:ss.mmm]"
constexpr size_t kStampLength = 25;

void FormatStamp(const LogTime& t, char* out) {
  char* p = out;
  *p++ = '[';
  p = PutDigits(p, t.year, 4);
  *p++ = '/';
  p = PutDigits(p, t.month, 2);
  *p++ = '/';
  p = PutDigits(p, t.day, 2);
  *p++ = ' ';
  p = PutDigits(p, t.hour, 2);
  *p++ = ':';
  p = PutDigits(p, t.minute, 2);
  *p++ = ':';
  p = PutDigits(p, t.second, 2);
  *p++ = '.';
  p = PutDigits(p, t.millisecond, 3);
  *p = ']';
}

// The local time's stamp. The calendar part is worked out once per second: a request logs
// several lines within the same one.
void AppendTimestamp(std::string& out) {
  if (fixed_log_time) {
    char stamp[kStampLength];
    FormatStamp(*fixed_log_time, stamp);
    out.append(stamp, kStampLength);
    return;
  }
  thread_local time_t cached_second = -1;
  thread_local LogTime cached{};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec != cached_second) {
    tm local{};
    localtime_r(&now.tv_sec, &local);
    cached = LogTime{local.tm_year + 1900,
                     local.tm_mon + 1,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec,
                     0};
    cached_second = now.tv_sec;
  }
  LogTime t = cached;
  t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  char stamp[kStampLength];
  FormatStamp(t, stamp);
  out.append(stamp, kStampLength);
}

std::string_view TextOrNull(const char* text) {
  return text != nullptr ? std::string_view(text) : std::string_view("(null)");
}

// One scratch line per thread: the hot path then formats without allocating once it has grown.
// A huge hex dump's buffer is not kept for the rest of the process.
std::string& ScratchLine() {
  constexpr size_t kKeptCapacity = 256 * 1024;
  thread_local std::string line;
  if (line.capacity() > kKeptCapacity) {
    std::string().swap(line);
  }
  line.clear();
  return line;
}

void AppendFormatted(std::string& out, const char* format, auto... values) {
  char buffer[128];
  const int length = std::snprintf(buffer, sizeof buffer, format, values...);
  out.append(buffer, static_cast<size_t>(std::clamp(length, 0, int{sizeof buffer} - 1)));
}

// "%d(0x%08X)", written by hand: two of the seven lines of every request carry a number.
void AppendNumber(std::string& out, int32_t number) {
  char text[32];
  char* end = text + sizeof text;
  char* p = end;
  const uint32_t bits = static_cast<uint32_t>(number);
  *--p = ')';
  for (int shift = 0; shift < 32; shift += 4) {
    *--p = "0123456789ABCDEF"[(bits >> shift) & 0xF];
  }
  *--p = 'x';
  *--p = '0';
  *--p = '(';
  uint32_t magnitude = number < 0 ? 0u - bits : bits;
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) {
    *--p = '-';
  }
  out.append(p, static_cast<size_t>(end - p));
}

// "[time]<kind><text>" for the plain lines, before the caller's own ending.
std::string& StartLine(const char* kind, std::string_view text) {
  std::string& line = ScratchLine();
  AppendTimestamp(line);
  line.append(kind);
  line.append(text);
  return line;
}

void StoreLine(LogStore& frame, std::string& line, std::string_view tail = {}) {
  line.append(tail);
  line.append("\r\n");
  AppendLogLine(frame, line.c_str());
}

void StoreTextLine(LogStore& frame, const char* kind, std::string_view text) {
  if (frame.LogViewer == nullptr) {
    return;
  }
  StoreLine(frame, StartLine(kind, text));
}

void StoreValueLine(LogStore& frame, const char* kind, std::string_view name,
                    std::string_view value) {
  if (frame.LogViewer == nullptr) {
    return;
  }
  std::string& line = StartLine(kind, name);
  line.append(" = ");
  StoreLine(frame, line, value);
}

void StoreNumberLine(LogStore& frame, const char* kind, std::string_view name, int32_t number) {
  if (frame.LogViewer == nullptr) {
    return;
  }
  std::string& line = StartLine(kind, name);
  line.append(" = ");
  AppendNumber(line, number);
  StoreLine(frame, line);
}

constexpr const char* kInfo = " - ";
constexpr const char* kError = " ERROR - ";
constexpr int kBytesPerRow = 16;
// "\n 0x%08x -", sixteen " %02x", " : " and the text column.
constexpr size_t kDumpRowChars = 14 + kBytesPerRow * 3 + 3 + kBytesPerRow;

void AppendLowerHex(std::string& out, uint32_t value, int digits) {
  constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out.push_back(kDigits[(value >> shift) & 0xF]);
  }
}

char PrintableOrDot(uint8_t byte) {
  return byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
}

// " 0x<offset> -", the row's bytes, fillers for missing bytes, " : " and the text column.
void AppendDumpRow(std::string& dump, uint32_t offset, const uint8_t* row, int bytes_in_row) {
  char text_column[kBytesPerRow];
  std::memset(text_column, ' ', sizeof text_column);
  dump.append(" 0x");
  AppendLowerHex(dump, offset, 8);
  dump.append(" -");
  for (int i = 0; i < bytes_in_row; ++i) {
    dump.push_back(' ');
    AppendLowerHex(dump, row[i], 2);
    text_column[i] = PrintableOrDot(row[i]);
  }
  for (int missing = bytes_in_row; missing < kBytesPerRow; ++missing) {
    dump.append("   ");
  }
  dump.append(" : ");
  dump.append(text_column, kBytesPerRow);
}

std::string& BuildHexDump(const uint8_t* data, int32_t length) {
  std::string& dump = ScratchLine();
  dump.reserve(static_cast<size_t>(length / kBytesPerRow + 1) * kDumpRowChars + 1);
  // 64-bit so that stepping past a length near INT32_MAX cannot overflow.
  for (int64_t offset = 0; offset < length; offset += kBytesPerRow) {
    if (offset > 0) {
      dump.push_back('\n');
    }
    const auto bytes_in_row = static_cast<int>(std::min<int64_t>(kBytesPerRow, length - offset));
    AppendDumpRow(dump, static_cast<uint32_t>(offset), data + offset, bytes_in_row);
  }
  dump.push_back('\n');
  return dump;
}

void DropEntriesForAppend(LogStore& frame) {
  std::deque<std::u16string>& lines = frame.LogLines;
  if (!frame.LogViewer->IsClearEnabled()) {
    lines.clear();
    return;
  }
  // A negative limit (a minus sign pasted into the options) keeps nothing, like 0.
  const size_t limit = static_cast<size_t>(std::max<int32_t>(frame.LogLineLimit, 0));
  while (lines.size() > limit) {
    lines.pop_front();
  }
}

}  // namespace

void SetLogTimeForTesting(const LogTime* fixed) {
  if (fixed != nullptr) {
    fixed_log_time = *fixed;
  } else {
    fixed_log_time.reset();
  }
}

void AppendLogLine(LogStore& frame, const char* line) {
  if (frame.LogViewer == nullptr) {
    return;
  }
  std::deque<std::u16string>& lines = frame.LogLines;
  // The entry that trimming drops lends its storage to the new one.
  std::u16string entry;
  const size_t limit = static_cast<size_t>(std::max<int32_t>(frame.LogLineLimit, 0));
  if (frame.LogViewer->IsClearEnabled() && lines.size() > limit) {
    entry = std::move(lines.front());
    lines.pop_front();
  }
  if (line != nullptr) {
    platform::AnsiToWideInto(std::string_view(line), entry);
  } else {
    entry.clear();
  }
  DropEntriesForAppend(frame);
  lines.push_back(std::move(entry));
  frame.LogViewer->EntriesChanged(lines);
  frame.LogViewer->EnableClear();
}

void LogMessage(LogStore& frame, const char* text) {
  StoreTextLine(frame, kInfo, TextOrNull(text));
}

void LogValue(LogStore& frame, const char* name, const char* value) {
  StoreValueLine(frame, kInfo, TextOrNull(name), TextOrNull(value));
}

void LogWideValue(LogStore& frame, const char* name, const char16_t* value) {
  if (frame.LogViewer == nullptr) {
    return;
  }
  const std::string narrow_value =
      value != nullptr ? platform::WideToAnsi(std::u16string_view(value)) : std::string();
  StoreValueLine(frame, kInfo, TextOrNull(name), narrow_value);
}

void LogNumber(LogStore& frame, const char* name, int32_t number) {
  StoreNumberLine(frame, kInfo, TextOrNull(name), number);
}

void LogError(LogStore& frame, const char* text) {
  StoreTextLine(frame, kError, TextOrNull(text));
}

void LogErrorText(LogStore& frame, std::u16string text) {
  if (frame.LogViewer == nullptr) {
    return;
  }
  StoreTextLine(frame, kError, platform::WideToAnsi(text));
}

void LogErrorValue(LogStore& frame, const char* name, const char* value) {
  StoreValueLine(frame, kError, TextOrNull(name), TextOrNull(value));
}

void LogErrorNumber(LogStore& frame, const char* name, int32_t number) {
  StoreNumberLine(frame, kError, TextOrNull(name), number);
}

void LogHexDump(LogStore& frame, const char* label, const uint8_t* data, int32_t length) {
  if (frame.LogViewer == nullptr) {
    return;
  }
  std::string& header = StartLine(" DEBUG ", TextOrNull(label));
  AppendFormatted(header, " : (len=%d)\n", length);
  AppendLogLine(frame, header.c_str());
  if (data == nullptr || length <= 0) {
    AppendLogLine(frame, nullptr);
    return;
  }
  AppendLogLine(frame, BuildHexDump(data, length).c_str());
}
