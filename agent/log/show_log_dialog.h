// The activity log viewer: a modeless, always-on-top dialog that shows, copies and clears the log.
#pragma once

#include <QDialog>
#include <QString>
#include <deque>
#include <string>

#include "agent/log/log_store.h"

class QPlainTextEdit;
class QPushButton;

class CShowLogDialog : public QDialog, public LogView {
 public:
  static constexpr int kTemplateId = 318;

  // Created hidden. The parent may be null (the main frame is not a widget).
  explicit CShowLogDialog(QWidget* parent = nullptr);

  // The tray's "show log" command: visible, raised and activated, where it last was.
  void ShowLog();

  // LogView. The entries container passed to EntriesChanged is kept by pointer and read when the
  // text is rebuilt; it belongs to the log store, which must outlive this dialog.
  bool IsClearEnabled() const override;
  void EnableClear() override;
  void EntriesChanged(const std::deque<std::u16string>& entries) override;

  // Brings a pending text update in now and returns the box's text.
  QString FlushPendingText();
  // How many times the box's text was rebuilt from the entries; for tests.
  int RebuildCount() const { return rebuild_count_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  void OnClear();
  void OnCopy();
  void OnQueuedRebuild();
  void RebuildText();

  QPushButton* close_button_ = nullptr;
  QPlainTextEdit* log_box_ = nullptr;
  QPushButton* clear_button_ = nullptr;
  QPushButton* copy_button_ = nullptr;

  const std::deque<std::u16string>* entries_ = nullptr;
  bool text_stale_ = false;      // the box does not show the entries yet
  bool rebuild_queued_ = false;  // one rebuild is posted for this event-loop turn
  int rebuild_count_ = 0;
};
