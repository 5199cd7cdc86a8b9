// The shortcut recorder: a small modal dialog with a key pop-up and the four
// modifier check boxes, shared by every slot of the configuration window.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

#include "actions/shortcut_text.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace velt {

class KeyboardStruct : public QDialog {
  Q_OBJECT
 public:
  // names: the recorder's key names on the user's layout.
  KeyboardStruct(KeyNames names, QWidget* parent = nullptr);

  // The last recorded key code and ShortcutModifiers.
  uint8_t keyCode() const { return keyCode_; }
  uint8_t keyModifier() const { return keyModifier_; }

  // The shortcut's text, "" when the key is not one of the recorder's.
  QString getKeyText(int32_t code, int32_t modifiers) const;
  // Selects the key (kept when code is unknown) and sets the check boxes.
  void setKeyState(int32_t modifiers, int32_t code);

  // Shows the dialog for slot index 0 to 5 with the slot's shortcut, centred
  // on the window, and waits for the user. True when confirmed with OK;
  // false when closed, and then keyModifier() is what it was before.
  bool record(int slotIndex, int32_t op1, int32_t op2, const QWidget* window);

  const KeyNames& keyNames() const { return names_; }
  QComboBox* keyList() const { return keyList_; }
  QCheckBox* flagCtrl() const { return flagCtrl_; }
  QCheckBox* flagOpt() const { return flagOpt_; }
  QCheckBox* flagCmd() const { return flagCmd_; }
  QCheckBox* flagShift() const { return flagShift_; }
  QPushButton* okButton() const { return ok_; }

 public slots:
  void setKeyboardDone();
  void setModifierDone();
  void reject() override;

 private:
  uint8_t selectedKey() const;
  uint8_t checkedModifiers() const;

  KeyNames names_;
  QComboBox* keyList_;
  QCheckBox* flagCtrl_;
  QCheckBox* flagOpt_;
  QCheckBox* flagCmd_;
  QCheckBox* flagShift_;
  QPushButton* ok_;
  uint8_t keyCode_ = 0;
  uint8_t keyModifier_ = 0;
};

}  // namespace velt
