// The activity log's store: the entries, their limit and the viewer that shows them.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

// What the log writer needs of the viewer. The viewer may bring its text up to date lazily (when
// it is shown, or once per event while visible); what the user sees is the same.
class LogView {
 public:
  virtual ~LogView() = default;
  // The Clear button's state; disabled means the user asked to clear the log.
  virtual bool IsClearEnabled() const = 0;
  virtual void EnableClear() = 0;
  // The entries changed: the viewer's text becomes all entries joined, in order.
  virtual void EntriesChanged(const std::deque<std::u16string>& entries) = 0;
};

// Owned by the main frame; the log operations take it as their first argument.
struct LogStore {
  LogView* LogViewer = nullptr;  // none until the frame's window is created
  std::deque<std::u16string> LogLines;
  int32_t LogLineLimit = 100;
};
