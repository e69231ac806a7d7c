#include "loginmodule/pin_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "loginmodule/pin_dialog_scope.h"
#include "platform/dialog_units.h"

namespace {

constexpr int kTemplateFontPoints = 12;

QPushButton* MakeButton(QWidget* parent, const char* id, const QString& text, QRect geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(id));
  button->setGeometry(geometry);
  return button;
}

std::u16string ToU16(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<size_t>(text.size()));
}

// A host whose Qt application has no widgets cannot show the dialog; it reads as cancelled.
class UnshownPinPrompt : public PinPrompt {
 public:
  std::u16string AskPin() override { return {}; }
};

}  // namespace

CPinDialog::CPinDialog(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("讀取卡片資料"));
  setFont(platform::DialogFont(kTemplateFontPoints));
  CreateControls();
  const platform::DialogUnits units(font());
  setFixedSize(units.X(169), units.Y(76));
  if (const QScreen* target = screen()) {
    move(target->availableGeometry().center() - rect().center());
  }
}

// In template order, which is also the tab order.
void CPinDialog::CreateControls() {
  const platform::DialogUnits units(font());
  auto* prompt = new QLabel(QStringLiteral("請輸入「晶片卡密碼」，以進行讀取卡片資料"), this);
  prompt->setGeometry(units.Rect(7, 7, 146, 9));
  entry_ = new QLineEdit(this);
  entry_->setObjectName(QStringLiteral("201"));
  entry_->setGeometry(units.Rect(7, 25, 105, 14));
  entry_->setEchoMode(QLineEdit::Password);
  QPushButton* ok = MakeButton(this, "1", QStringLiteral("確定"), units.Rect(60, 47, 40, 17));
  ok->setDefault(true);
  QPushButton* cancel = MakeButton(this, "2", QStringLiteral("取消"), units.Rect(107, 47, 40, 17));
  connect(ok, &QPushButton::clicked, this, &CPinDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &CPinDialog::reject);
}

void CPinDialog::DoDataExchange(bool save) {
  if (save) {
    m_strEntry = entry_->text();
    return;
  }
  entry_->setMaxLength(kPinMaxChars);
  entry_->setText(m_strEntry);
}

void CPinDialog::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    DoDataExchange(false);
    entry_->setFocus();
  }
  QDialog::showEvent(event);
}

std::u16string CPinDialog::AskPin() {
  exec();
  return ToU16(m_strPin);
}

void CPinDialog::accept() {
  DoDataExchange(true);
  m_strPin = m_strEntry;
  QDialog::accept();
}

void CPinDialog::reject() {
  m_strPin.clear();
  QDialog::reject();
}

struct PinDialogScope::Parts {
  std::unique_ptr<QApplication> application;  // made for this call only
  std::unique_ptr<PinPrompt> prompt;          // destroyed before the application
};

PinDialogScope::PinDialogScope() : parts_(std::make_unique<Parts>()) {
  QCoreApplication* host = QCoreApplication::instance();
  if (host == nullptr) {
    // QApplication keeps argc and argv for its lifetime.
    static int argc = 1;
    static char name[] = "Quillomat";
    static char* argv[] = {name, nullptr};
    parts_->application = std::make_unique<QApplication>(argc, argv);
  } else if (qobject_cast<QApplication*>(host) == nullptr) {
    parts_->prompt = std::make_unique<UnshownPinPrompt>();
    return;
  }
  parts_->prompt = std::make_unique<CPinDialog>();
}

PinDialogScope::~PinDialogScope() = default;

PinPrompt& PinDialogScope::prompt() {
  return *parts_->prompt;
}
