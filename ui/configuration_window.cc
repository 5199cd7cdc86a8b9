#include "ui/configuration_window.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
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

// A desktop entry's Icon: an absolute path or a name in the icon theme.
QIcon iconOf(const std::string& icon) {
  if (icon.empty()) return {};
  if (icon.front() == '/') return QIcon(qs(icon));
  return QIcon::fromTheme(qs(icon));
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
        static_cast<QWidget*>(outlets_->deviceList), static_cast<QWidget*>(outlets_->profileList),
        static_cast<QWidget*>(outlets_->removeProfile)}) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
  }
  window_->setFixedSize(window_->sizeHint().expandedTo(window_->minimumSizeHint()));
  pictureArea_ = outlets_->mouseImage->geometry();
  connect(outlets_->deviceList, &QComboBox::activated, this,
          [this](int index) { changeDevice(index); });
  outlets_->profileList->hide();
  outlets_->removeProfile->hide();
  connect(outlets_->profileList, &QComboBox::activated, this, [this](int index) {
    QVariant tag = outlets_->profileList->itemData(index);
    if (!tag.isValid() || tag.toULongLong() >= selector_.size()) return;
    const SelectorEntry& entry = selector_[tag.toULongLong()];
    if (entry.kind == SelectorEntry::Kind::AddApplication) {
      chooseApplication();
    } else {
      selectTable(entry.application);
    }
  });
  connect(outlets_->removeProfile, &QPushButton::clicked, this, [this] { removeShownProfile(); });
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

void ConfigurationWindow::setProfiles(Profiles* profiles,
                                      std::function<DesktopEntries(bool fresh)> applications,
                                      std::function<std::vector<std::string>()> openApplications) {
  profiles_ = profiles;
  readApplications_ = std::move(applications);
  openApplications_ = std::move(openApplications);
}

void ConfigurationWindow::applyTexts() {
  window_->setWindowTitle(qs(state_.uiStrings.text("button setting")));
  outlets_->textMenuConfig->setText(qs(state_.uiStrings.text("open setting")));
  outlets_->textMenuUninstall->setText(qs(state_.uiStrings.text("uninstall")));
  outlets_->textMenuExit->setText(qs(state_.uiStrings.text("exit")));
  outlets_->removeProfile->setText(qs(state_.uiStrings.text("remove profile")));
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
    connect(popUp, &QComboBox::activated, this,
            [this, s, popUp](int index) { setFunc(s, popUp->itemData(index).toInt()); });
  }
  if (readApplications_) applications_ = readApplications_(false);
  fillSelector();
  showTable();
}

void ConfigurationWindow::showTable() {
  const ApplicationProfile* profile = nullptr;
  ProfileList list = profiles_ ? profiles_->list() : ProfileList{};
  auto found = std::find_if(list.begin(), list.end(), [this](const ApplicationProfile& p) {
    return p.application == profile_;
  });
  if (found != list.end()) profile = &*found;
  outlets_->removeProfile->setVisible(profile && outlets_->profileList->isVisibleTo(window_));

  for (int s = 0; s < kSlotCount; ++s) {
    SlotMenu menu =
        profile ? profileSlotMenu(state_.slotMenus[s], state_.uiStrings) : state_.slotMenus[s];
    QComboBox* popUp = state_.slotPopUps[s];
    popUp->clear();
    for (const SlotMenuEntry& entry : menu) {
      if (entry.separator) {
        popUp->insertSeparator(popUp->count());
      } else {
        popUp->addItem(qs(entry.title), entry.code);
      }
    }
    ButtonAssignmentValue current{kFunctionAsForAllApplications, 0, 0};
    if (!profile) {
      current = slotAssignment(settings_, s).load();
    } else if (const auto& value = profileSlot(*profile, s)) {
      current = *value;
    }
    QLabel* label = state_.shortcutLabels[s];
    label->clear();
    if (current.code == kFunctionShortcut && shortcutPanel_) {
      label->setText(shortcutPanel_->getKeyText(current.op1, current.op2));
    }
    popUp->setCurrentIndex(indexOfCode(menu, current.code));
  }
}

void ConfigurationWindow::fillSelector() {
  if (!profiles_) return;
  QComboBox* selector = outlets_->profileList;
  selector_ = selectorEntries(profiles_->list(), applications_, state_.uiStrings);
  selector->clear();
  int shown = 0;
  for (size_t i = 0; i < selector_.size(); ++i) {
    const SelectorEntry& entry = selector_[i];
    if (entry.kind == SelectorEntry::Kind::AddApplication) {
      selector->insertSeparator(selector->count());
    }
    selector->addItem(iconOf(entry.icon), qs(entry.title), qulonglong(i));
    if (entry.kind == SelectorEntry::Kind::Profile && entry.application == profile_) {
      shown = selector->count() - 1;
    }
  }
  if (shown == 0) profile_.clear();
  selector->setCurrentIndex(shown);
}

void ConfigurationWindow::selectTable(const std::string& application) {
  profile_ = application;
  fillSelector();
  showTable();
}

void ConfigurationWindow::commitProfiles(ProfileList list) {
  if (std::string fault = store_.commitProfiles(std::move(list)); !fault.empty()) {
    logFormat("%s: the profiles cannot be kept: %s", store_.filePath().c_str(), fault.c_str());
  }
}

void ConfigurationWindow::addProfile(const std::string& application) {
  if (!profiles_) return;
  ProfileList list = profiles_->list();
  bool known = std::any_of(list.begin(), list.end(), [&](const ApplicationProfile& p) {
    return p.application == application;
  });
  if (!known) {
    list.push_back({application, {}});
    commitProfiles(std::move(list));
  }
  selectTable(application);
}

void ConfigurationWindow::removeShownProfile() {
  if (!profiles_ || profile_.empty()) return;
  ProfileList list = profiles_->list();
  std::erase_if(list, [this](const ApplicationProfile& p) { return p.application == profile_; });
  commitProfiles(std::move(list));
  selectTable("");
}

void ConfigurationWindow::storeProfileSlot(int slotIndex,
                                           std::optional<ButtonAssignmentValue> value) {
  ProfileList list = profiles_->list();
  for (ApplicationProfile& p : list) {
    if (p.application == profile_) profileSlot(p, slotIndex) = value;
  }
  commitProfiles(std::move(list));
  showTable();
}

void ConfigurationWindow::chooseApplication() {
  QDialog dialog(window_);
  dialog.setWindowTitle(qs(state_.uiStrings.text("add application")));
  auto* search = new QLineEdit(&dialog);
  search->setPlaceholderText(qs(state_.uiStrings.text("search applications")));
  search->setClearButtonEnabled(true);
  auto* choices = new QListWidget(&dialog);
  choices->setIconSize(QSize(24, 24));
  auto* buttons = new QDialogButtonBox(&dialog);
  QPushButton* add =
      buttons->addButton(qs(state_.uiStrings.text("add")), QDialogButtonBox::AcceptRole);
  buttons->addButton(qs(state_.uiStrings.text("cancel")), QDialogButtonBox::RejectRole);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(search);
  layout->addWidget(choices);
  layout->addWidget(buttons);
  dialog.resize(360, 420);

  if (readApplications_) applications_ = readApplications_(true);
  const std::vector<std::string> open =
      openApplications_ ? openApplications_() : std::vector<std::string>{};
  ProfileList list = profiles_ ? profiles_->list() : ProfileList{};
  auto heading = [&](const char* key) {
    auto* item = new QListWidgetItem(qs(state_.uiStrings.text(key)), choices);
    item->setFlags(Qt::NoItemFlags);
    QFont font = item->font();
    font.setBold(true);
    item->setFont(font);
  };
  auto refill = [&](const QString& filter) {
    choices->clear();
    const std::vector<AddChoice> found =
        addChoices(applications_, list, open, filter.toStdString());
    // Headings only when some have windows open: the open ones, then the rest.
    const bool anyOpen = !found.empty() && found.front().open;
    if (anyOpen) heading("open windows");
    for (size_t i = 0; i < found.size(); ++i) {
      if (anyOpen && !found[i].open && found[i - 1].open) heading("installed applications");
      auto* item = new QListWidgetItem(iconOf(found[i].icon), qs(found[i].title), choices);
      item->setData(Qt::UserRole, qs(found[i].application));
      if (i == 0) choices->setCurrentItem(item);
    }
    add->setEnabled(!found.empty());
  };
  refill({});
  connect(search, &QLineEdit::textChanged, &dialog, refill);
  connect(choices, &QListWidget::itemActivated, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

  if (dialog.exec() == QDialog::Accepted && choices->currentItem()) {
    addProfile(choices->currentItem()->data(Qt::UserRole).toString().toStdString());
  } else {
    fillSelector();  // back on the table shown before
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
  // Profiles are chosen beside the slots they set.
  o.profileList->setVisible(profiles_ && plan.deviceFound);
  o.removeProfile->setVisible(o.profileList->isVisibleTo(window_) && !profile_.empty());

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
  if (!profile_.empty()) {
    std::optional<ButtonAssignmentValue> value;
    if (code != kFunctionAsForAllApplications) value = ButtonAssignmentValue{code, 0, 0};
    storeProfileSlot(slotIndex, value);
    return;
  }
  ButtonAssignment& a = slotAssignment(settings_, slotIndex);
  a.op1.store(0, std::memory_order_relaxed);
  a.op2.store(0, std::memory_order_relaxed);
  updateConfig();
}

void ConfigurationWindow::setKeyboard(int slotIndex) {
  ButtonAssignment& a = slotAssignment(settings_, slotIndex);
  ButtonAssignmentValue before = a.load();
  std::optional<ButtonAssignmentValue> profileBefore;
  if (!profile_.empty()) {
    for (const ApplicationProfile& p : profiles_->list()) {
      if (p.application == profile_) profileBefore = profileSlot(p, slotIndex);
    }
    before = profileBefore.value_or(ButtonAssignmentValue{kFunctionAsForAllApplications, 0, 0});
  }
  if (!shortcutPanel_->record(slotIndex, before.op1, before.op2, window_)) {
    // Closed without OK: the slot keeps what it had.
    QComboBox* popUp = state_.slotPopUps[slotIndex];
    popUp->setCurrentIndex(popUp->findData(before.code));
    return;
  }
  if (!profile_.empty()) {
    storeProfileSlot(slotIndex, ButtonAssignmentValue{kFunctionShortcut, shortcutPanel_->keyCode(),
                                                      shortcutPanel_->keyModifier()});
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
