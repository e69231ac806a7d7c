#include "platform/message_box.h"

#include <QMessageBox>
#include <QPushButton>
#include <QStringView>

namespace platform {
namespace {

constexpr unsigned kButtonsMask = 0x0F;
constexpr unsigned kIconMask = 0xF0;

QMessageBox::Icon IconFor(unsigned type) {
  switch (type & kIconMask) {
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONERROR:
      return QMessageBox::Critical;
    default:
      return QMessageBox::NoIcon;
  }
}

int AskYesNo(QMessageBox& box) {
  const QPushButton* yes = box.addButton(QMessageBox::Yes);
  box.addButton(QMessageBox::No);
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::No);
  box.exec();
  return box.clickedButton() == yes ? IDYES : IDNO;
}

int Tell(QMessageBox& box) {
  box.addButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  box.exec();
  return IDOK;
}

}  // namespace

int MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type) {
  QMessageBox box(IconFor(type), QStringView(caption).toString(), QStringView(text).toString());
  box.setObjectName(QStringLiteral("MessageBox"));
  // The agent has no other visible window: closing the box must not end the application.
  box.setAttribute(Qt::WA_QuitOnClose, false);
  return (type & kButtonsMask) == MB_YESNO ? AskYesNo(box) : Tell(box);
}

}  // namespace platform
