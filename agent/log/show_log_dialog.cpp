#include "agent/log/show_log_dialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "platform/dialog_units.h"

namespace {

using platform::DialogUnits;

QPushButton* MakeButton(QWidget* parent, const char* id, const QString& text, QRect geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(id));
  button->setGeometry(geometry);
  return button;
}

QPlainTextEdit* MakeLogBox(QWidget* parent, QRect geometry) {
  auto* box = new QPlainTextEdit(parent);
  box->setObjectName(QStringLiteral("1000"));
  box->setGeometry(geometry);
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  box->setFocusPolicy(Qt::ClickFocus);  // no tab stop
  box->setTabChangesFocus(true);
  return box;
}

QString JoinEntries(const std::deque<std::u16string>& entries) {
  qsizetype length = 0;
  for (const std::u16string& entry : entries) {
    length += static_cast<qsizetype>(entry.size());
  }
  QString text;
  text.reserve(length);
  for (const std::u16string& entry : entries) {
    text.append(QStringView(entry.data(), static_cast<qsizetype>(entry.size())));
  }
  return text;
}

}  // namespace

CShowLogDialog::CShowLogDialog(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  setWindowTitle(QStringLiteral("作業記錄檢視"));
  setFont(platform::DialogFont(8));
  CreateControls();
  const DialogUnits units(font());
  setFixedSize(units.X(316), units.Y(182));
  if (const QScreen* target = screen()) {
    move(target->availableGeometry().center() - rect().center());
  }
}

void CShowLogDialog::CreateControls() {
  const DialogUnits units(font());
  close_button_ = MakeButton(this, "1", QStringLiteral("關閉"), units.Rect(259, 161, 50, 14));
  close_button_->setDefault(true);
  log_box_ = MakeLogBox(this, units.Rect(7, 7, 302, 152));
  clear_button_ =
      MakeButton(this, "1001", QStringLiteral("清除記錄"), units.Rect(206, 161, 50, 14));
  copy_button_ = MakeButton(this, "1002", QStringLiteral("複製"), units.Rect(152, 161, 50, 14));
  setTabOrder(close_button_, clear_button_);
  setTabOrder(clear_button_, copy_button_);
  connect(close_button_, &QPushButton::clicked, this, &QDialog::accept);
  connect(clear_button_, &QPushButton::clicked, this, [this] { OnClear(); });
  connect(copy_button_, &QPushButton::clicked, this, [this] { OnCopy(); });
}

void CShowLogDialog::ShowLog() {
  show();
  raise();
  activateWindow();
}

// Asked of this dialog alone: a disabled parent window must not read as a pending clear.
bool CShowLogDialog::IsClearEnabled() const {
  return clear_button_->isEnabledTo(this);
}

void CShowLogDialog::EnableClear() {
  clear_button_->setEnabled(true);
}

// Lines arrive on every request; a hidden viewer rebuilds when shown, a visible one once per
// event-loop turn, however many lines came in it.
void CShowLogDialog::EntriesChanged(const std::deque<std::u16string>& entries) {
  entries_ = &entries;
  text_stale_ = true;
  if (!isVisible() || rebuild_queued_) {
    return;
  }
  rebuild_queued_ = true;
  QMetaObject::invokeMethod(
      this, [this] { OnQueuedRebuild(); }, Qt::QueuedConnection);
}

QString CShowLogDialog::FlushPendingText() {
  if (text_stale_) {
    RebuildText();
  }
  return log_box_->toPlainText();
}

void CShowLogDialog::showEvent(QShowEvent* event) {
  if (text_stale_) {
    RebuildText();
  }
  QDialog::showEvent(event);
}

void CShowLogDialog::OnQueuedRebuild() {
  rebuild_queued_ = false;
  if (!text_stale_ || !isVisible()) {
    return;
  }
  RebuildText();
  repaint();
}

void CShowLogDialog::RebuildText() {
  text_stale_ = false;
  ++rebuild_count_;
  log_box_->setPlainText(entries_ != nullptr ? JoinEntries(*entries_) : QString());
}

// The entries stay in the store until the next line; a rebuild still pending from lines logged
// before the click must not bring them back.
void CShowLogDialog::OnClear() {
  text_stale_ = false;
  log_box_->clear();
  clear_button_->setEnabled(false);
  repaint();
}

void CShowLogDialog::OnCopy() {
  FlushPendingText();
  log_box_->selectAll();
  log_box_->ensureCursorVisible();
  QGuiApplication::clipboard()->setText(
      log_box_->textCursor().selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')));
}
