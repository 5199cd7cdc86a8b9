#include "ui/configuration_window.h"

#include <QComboBox>
#include <QLabel>
#include <QPropertyAnimation>
#include <QWidget>
#include <cmath>

#include "actions/keyboard_struct.h"
#include "core/log.h"
#include "ui/resource_images.h"
#include "ui/slot_assignments.h"
#include "ui_configuration_window.h"

namespace velt {
namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

RectF frameOf(const QWidget* w) {
  QRect r = w->geometry();
  return {double(r.x()), double(r.y()), double(r.width()), double(r.height())};
}

QRect rectOf(const RectF& f) {
  return QRect(int(std::lround(f.x)), int(std::lround(f.y)), int(std::lround(f.width)),
               int(std::lround(f.height)));
}

}  // namespace

ConfigurationWindow::ConfigurationWindow(InterfaceState& state, Settings& settings,
                                         SettingsStore& store, DeviceDirectory& devices,
                                         QObject* parent)
    : QObject(parent),
      state_(state),
      settings_(settings),
      store_(store),
      devices_(devices),
      window_(new QWidget),
      outlets_(std::make_unique<Ui::ConfigurationWindow>()) {
  outlets_->setupUi(window_);
  // The header keeps its height whichever of name and picker it shows.
  for (QWidget* w :
       {static_cast<QWidget*>(outlets_->modelName), static_cast<QWidget*>(outlets_->modelTitle),
        static_cast<QWidget*>(outlets_->deviceList)}) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
  }
  window_->setFixedSize(window_->sizeHint().expandedTo(window_->minimumSizeHint()));
  pictureArea_ = outlets_->mouseImage->geometry();
  connect(outlets_->deviceList, &QComboBox::activated, this,
          [this](int index) { changeDevice(index); });
}

ConfigurationWindow::~ConfigurationWindow() {
  delete window_;
}

void ConfigurationWindow::fillSlotTables() {
  auto& o = *outlets_;
  state_.slotCaptions = {o.textB3, o.textB4, o.textB5, o.textHid1, o.textHid2, o.textHid3};
  state_.slotPopUps = {o.funcList1, o.funcList2, o.funcList3,
                       o.funcList4, o.funcList5, o.funcList6};
}

void ConfigurationWindow::applyTexts() {
  window_->setWindowTitle(qs(state_.uiStrings.text("button setting")));
  outlets_->textMenuConfig->setText(qs(state_.uiStrings.text("open setting")));
  outlets_->textMenuUninstall->setText(qs(state_.uiStrings.text("uninstall")));
  outlets_->textMenuExit->setText(qs(state_.uiStrings.text("exit")));
}

void ConfigurationWindow::initSetKeyboardPanel(KeyNames names) {
  delete shortcutPanel_;
  shortcutPanel_ = new KeyboardStruct(std::move(names), window_);
}

void ConfigurationWindow::buildSlotMenus() {
  state_.slotMenus = velt::buildSlotMenus(state_.functionNames);
  for (int s = 0; s < kSlotCount; ++s) {
    auto* label = new QLabel(outlets_->buttonView);
    label->setGeometry(10, 10, 120, 24);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setObjectName(QString("shortcutLabel%1").arg(s + 1));
    label->hide();
    state_.shortcutLabels[s] = label;

    QComboBox* popUp = state_.slotPopUps[s];
    popUp->clear();
    for (const SlotMenuEntry& entry : state_.slotMenus[s]) {
      if (entry.separator) {
        popUp->insertSeparator(popUp->count());
      } else {
        popUp->addItem(qs(entry.title), entry.code);
      }
    }
    ButtonAssignmentValue current = slotAssignment(settings_, s).load();
    if (current.code == kFunctionShortcut && shortcutPanel_) {
      label->setText(shortcutPanel_->getKeyText(current.op1, current.op2));
    }
    popUp->setCurrentIndex(indexOfCode(state_.slotMenus[s], current.code));
    connect(popUp, &QComboBox::activated, this,
            [this, s, popUp](int index) { setFunc(s, popUp->itemData(index).toInt()); });
  }
}

void ConfigurationWindow::setVersionText(const std::string& version,
                                         const std::string& buildNumber) {
  outlets_->appVer->setText(qs(versionText(version, buildNumber)));
}

void ConfigurationWindow::loadImages(const std::filesystem::path& resources) {
  auto& o = *outlets_;
  QLabel* badges[] = {o.B1Image, o.B2Image, o.B3Image, o.B4Image, o.B5Image, o.B6Image};
  for (int n = 1; n <= kSlotCount; ++n) {
    QPixmap badge = resourcePixmap(resources, "skin/image/num" + std::to_string(n) + ".png");
    badges[n - 1]->setPixmap(badge.isNull() ? drawnBadge(n, badges[n - 1]->height()) : badge);
  }
  o.logoImage->setPixmap(resourcePixmap(resources, "skin/image/logo.png"));
  o.logoImage->hide();
}

WindowGeometry ConfigurationWindow::measure() const {
  auto& o = *outlets_;
  WindowGeometry g;
  g.mouseImage = frameOf(o.mouseImage);
  QLabel* badges[] = {o.B1Image, o.B2Image, o.B3Image, o.B4Image, o.B5Image, o.B6Image};
  for (int s = 0; s < kSlotCount; ++s) {
    g.badges[s] = frameOf(badges[s]);
    g.popUps[s] = frameOf(state_.slotPopUps[s]);
    g.captions[s] = frameOf(state_.slotCaptions[s]);
  }
  g.buttonViewHeight = o.buttonView->height();
  return g;
}

void ConfigurationWindow::showPicture(const std::string& path) {
  QPixmap picture(qs(path));
  if (picture.isNull() && unreadablePictures_.insert(path).second) {
    logFormat("%s: cannot load the model's picture", path.c_str());
  }
  // The picture fills the width of its frame, so positions on it measured in
  // thousandths of its width land on the right spot.
  QRect frame = pictureArea_;
  if (!picture.isNull()) {
    QSize fitted = picture.size().scaled(pictureArea_.size(), Qt::KeepAspectRatio);
    frame = QRect(QPoint(0, 0), fitted);
    frame.moveCenter(pictureArea_.center());
  }
  outlets_->mouseImage->setGeometry(frame);
  outlets_->mouseImage->setPixmap(picture);
}

void ConfigurationWindow::moveBadge(int index, const RectF& frame) {
  auto& o = *outlets_;
  QLabel* badges[] = {o.B1Image, o.B2Image, o.B3Image, o.B4Image, o.B5Image, o.B6Image};
  QLabel* badge = badges[index];
  QRect target = rectOf(frame);
  if (badgeAnimationMs_ <= 0 || !window_->isVisible()) {
    badge->setGeometry(target);
    return;
  }
  auto* animation = new QPropertyAnimation(badge, "geometry", badge);
  animation->setDuration(badgeAnimationMs_);
  animation->setEasingCurve(QEasingCurve::OutCubic);
  animation->setEndValue(target);
  animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void ConfigurationWindow::windowRebuild(const DeviceRecord& record) {
  auto& o = *outlets_;
  o.deviceList->clear();
  int32_t count = devices_.countSelectableDevices();
  for (int32_t i = 0; i < count; ++i) o.deviceList->addItem(qs(devices_.describeDevice(i).name));
  o.deviceList->setCurrentIndex(devices_.selectedDeviceIndex());

  QLabel* badges[] = {o.B1Image, o.B2Image, o.B3Image, o.B4Image, o.B5Image, o.B6Image};
  for (int s = 0; s < kSlotCount; ++s) {
    badges[s]->raise();
    badges[s]->hide();
    state_.slotPopUps[s]->hide();
    state_.slotCaptions[s]->hide();
    state_.shortcutLabels[s]->hide();
  }

  if (record.type != 0) showPicture(record.imagePath);
  WindowPlan plan = planWindow(record, count, measure());
  o.modelName->setVisible(plan.modelNameVisible);
  o.mouseImage->setVisible(plan.mouseImageVisible);
  o.modelTitle->setVisible(plan.modelTitleVisible);
  o.deviceList->setVisible(plan.deviceListVisible);
  o.devMsg->setVisible(plan.devMsgVisible);
  if (plan.devMsgVisible) o.devMsg->setText(qs(state_.uiStrings.text("device not found")));
  if (plan.deviceFound) o.modelName->setText(qs(record.name));

  const QString button = qs(state_.uiStrings.text("button"));
  for (int s = 0; s < kSlotCount; ++s) {
    const SlotPlacement& slot = plan.slotPlan[s];
    QComboBox* popUp = state_.slotPopUps[s];
    popUp->setEnabled(slot.enabled);
    if (!slot.visible) continue;
    popUp->setGeometry(rectOf(slot.popUp));
    popUp->show();
    state_.shortcutLabels[s]->setGeometry(rectOf(slot.shortcutLabel));
    state_.shortcutLabels[s]->show();
    state_.slotCaptions[s]->setGeometry(rectOf(slot.caption));
    state_.slotCaptions[s]->setText(QString("%1 %2").arg(button).arg(slot.captionNumber));
    state_.slotCaptions[s]->show();
  }
  for (int b = 0; b < kSlotCount; ++b) {
    if (!plan.badges[b].visible) continue;
    moveBadge(b, plan.badges[b].frame);
    badges[b]->show();
  }
  o.modelTitle->setText(qs(state_.uiStrings.text("model")));
  emit deviceShown(plan.deviceFound);
}

void ConfigurationWindow::changeDevice(int index) {
  devices_.selectDevice(index);
}

void ConfigurationWindow::setFunc(int slotIndex, int32_t code) {
  if (code == kFunctionShortcut) {
    setKeyboard(slotIndex);
    return;
  }
  state_.shortcutLabels[slotIndex]->hide();
  state_.shortcutLabels[slotIndex]->clear();
  ButtonAssignment& a = slotAssignment(settings_, slotIndex);
  a.op1.store(0, std::memory_order_relaxed);
  a.op2.store(0, std::memory_order_relaxed);
  updateConfig();
}

void ConfigurationWindow::setKeyboard(int slotIndex) {
  ButtonAssignment& a = slotAssignment(settings_, slotIndex);
  ButtonAssignmentValue before = a.load();
  if (!shortcutPanel_->record(slotIndex, before.op1, before.op2, window_)) {
    // Closed without OK: the slot keeps what it had.
    state_.slotPopUps[slotIndex]->setCurrentIndex(
        indexOfCode(state_.slotMenus[slotIndex], before.code));
    return;
  }
  a.op1.store(shortcutPanel_->keyCode(), std::memory_order_relaxed);
  a.op2.store(shortcutPanel_->keyModifier(), std::memory_order_relaxed);
  QLabel* label = state_.shortcutLabels[slotIndex];
  label->clear();
  label->setText(
      shortcutPanel_->getKeyText(shortcutPanel_->keyCode(), shortcutPanel_->keyModifier()));
  label->show();
  updateConfig();
}

void ConfigurationWindow::updateConfig() {
  std::array<int32_t, kSlotCount> codes{};
  for (int s = 0; s < kSlotCount; ++s) {
    QComboBox* popUp = state_.slotPopUps[s];
    codes[s] = popUp->currentIndex() >= 0 ? popUp->currentData().toInt() : 0;
  }
  store_.commitAssignments(storeSlotCodes(settings_, codes));
}

}  // namespace velt
