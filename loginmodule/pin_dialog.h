// The modal dialog that asks for the card PIN (template 104).
#pragma once

#include <QDialog>
#include <QString>
#include <string>

#include "loginmodule/pin_prompt.h"

class QLineEdit;
class QShowEvent;

class CPinDialog : public QDialog, public PinPrompt {
 public:
  static constexpr int kTemplateId = 104;
  static constexpr int kPinMaxChars = 16;

  // No owner window: the module is called from hosts that give none.
  explicit CPinDialog(QWidget* parent = nullptr);

  // Shows the dialog modally; m_strPin afterwards, whichever way it was closed.
  std::u16string AskPin() override;

  // OK: the field's text becomes the PIN. Cancel, Esc and the close box leave it empty.
  void accept() override;
  void reject() override;

  QString m_strEntry;  // the text of field 201
  QString m_strPin;    // the accepted PIN; empty unless OK was pressed

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  // Field 201 and m_strEntry: into the member when `save`, into the field otherwise.
  void DoDataExchange(bool save);

  QLineEdit* entry_ = nullptr;
};
