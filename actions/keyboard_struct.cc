#include "actions/keyboard_struct.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "core/log.h"
#include "core/settings.h"

namespace velt {
namespace {
constexpr int kWidth = 400;
constexpr int kHeight = 160;
constexpr int kRowHeight = 22;
// The key row above the modifier row, measured from the top.
constexpr int kKeyRowY = 38;
constexpr int kModifierRowY = 78;
}  // namespace

KeyboardStruct::KeyboardStruct(KeyNames names, QWidget* parent)
    : QDialog(parent), names_(std::move(names)) {
  logLine("init panel");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(kWidth, kHeight);
  setModal(true);

  ok_ = new QPushButton("OK", this);
  ok_->setGeometry(kWidth - 150, kHeight - 8 - 30, 140, 30);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &KeyboardStruct::setKeyboardDone);
  logFormat("%f", static_cast<double>(ok_->height()));

  auto* label = new QLabel("Key:", this);
  label->setGeometry(10, kKeyRowY, 120, kRowHeight);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  keyList_ = new QComboBox(this);
  // A little taller than the row, as Qt's styles draw a combo box.
  keyList_->setGeometry(140, kKeyRowY - 2, 160, kRowHeight + 4);
  keyList_->setMaxVisibleItems(20);
  for (int i = 0; i < kKeyNameCount; ++i) {
    keyList_->addItem(QString::fromStdString(names_[i]), KeyNameTable()[i].code);
  }

  auto makeFlag = [this](const char* text, int x, int width) {
    auto* box = new QCheckBox(text, this);
    box->setGeometry(x, kModifierRowY, width, kRowHeight);
    connect(box, &QCheckBox::clicked, this, &KeyboardStruct::setModifierDone);
    return box;
  };
  flagCtrl_ = makeFlag("Ctrl", 20, 70);
  flagOpt_ = makeFlag("Alt", 100, 80);
  flagCmd_ = makeFlag("Super", 190, 80);
  flagShift_ = makeFlag("Shift", 290, 80);
}

QString KeyboardStruct::getKeyText(int32_t code, int32_t modifiers) const {
  return QString::fromStdString(shortcutText(code, modifiers, names_));
}

void KeyboardStruct::setKeyState(int32_t modifiers, int32_t code) {
  if (int index = keyList_->findData(code); index >= 0) keyList_->setCurrentIndex(index);
  flagCmd_->setChecked(modifiers & kModCommand);
  flagCtrl_->setChecked(modifiers & kModControl);
  flagOpt_->setChecked(modifiers & kModOption);
  flagShift_->setChecked(modifiers & kModShift);
}

uint8_t KeyboardStruct::selectedKey() const {
  return static_cast<uint8_t>(keyList_->currentData().toInt() & 0xFF);
}

uint8_t KeyboardStruct::checkedModifiers() const {
  uint8_t modifiers = 0;
  if (flagCmd_->isChecked()) modifiers |= kModCommand;
  if (flagOpt_->isChecked()) modifiers |= kModOption;
  if (flagCtrl_->isChecked()) modifiers |= kModControl;
  if (flagShift_->isChecked()) modifiers |= kModShift;
  return modifiers;
}

void KeyboardStruct::setModifierDone() {
  keyModifier_ = checkedModifiers();
}

void KeyboardStruct::setKeyboardDone() {
  keyCode_ = selectedKey();
  keyModifier_ = checkedModifiers();
  done(QDialog::Accepted);
}

void KeyboardStruct::reject() {
  keyCode_ = selectedKey();
  done(QDialog::Rejected);
}

bool KeyboardStruct::record(int slotIndex, int32_t op1, int32_t op2, const QWidget* window) {
  uint8_t modifierBefore = keyModifier_;
  if (window) {
    QPoint centre = window->mapToGlobal(window->rect().center());
    move(centre - QPoint(kWidth / 2, kHeight / 2));
  }
  setWindowTitle(QString("Button %1").arg(slotIndex + 1));
  setKeyState(op2, op1);
  keyList_->setFocus();
  bool confirmed = exec() == QDialog::Accepted;
  if (!confirmed) keyModifier_ = modifierBefore;
  return confirmed;
}

}  // namespace velt
