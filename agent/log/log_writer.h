// The log operations. Each call stores one timestamped line (a hex dump stores two entries).
// Narrow texts are in the ANSI code page; a null narrow text prints as "(null)".
#pragma once

#include <cstdint>
#include <string>

#include "agent/log/log_store.h"

void AppendLogLine(LogStore& frame, const char* line);
void LogMessage(LogStore& frame, const char* text);
void LogValue(LogStore& frame, const char* name, const char* value);
void LogWideValue(LogStore& frame, const char* name, const char16_t* value);
void LogNumber(LogStore& frame, const char* name, int32_t number);
void LogError(LogStore& frame, const char* text);
void LogErrorText(LogStore& frame, std::u16string text);
void LogErrorValue(LogStore& frame, const char* name, const char* value);
void LogErrorNumber(LogStore& frame, const char* name, int32_t number);
void LogHexDump(LogStore& frame, const char* label, const uint8_t* data, int32_t length);

// The local time source of the timestamps; tests fix it.
struct LogTime {
  int year, month, day, hour, minute, second, millisecond;
};
void SetLogTimeForTesting(const LogTime* fixed);  // nullptr returns to the real clock
