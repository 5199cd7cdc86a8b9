#include "core/settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "core/log.h"
#include "core/plist_file.h"

namespace velt {

const std::array<std::string_view, 22> kSettingsKeys = {
    "spotlightDim", "type1",        "type2",        "type3",        "type4",     "numType0",
    "numType1",     "numType2",     "type1_op1",    "type2_op1",    "type3_op1", "type4_op1",
    "numType0_op1", "numType1_op1", "numType2_op1", "type1_op2",    "type2_op2", "type3_op2",
    "type4_op2",    "numType0_op2", "numType1_op2", "numType2_op2",
};

namespace {

constexpr int32_t kMinSpotlightSize = 200;
constexpr int32_t kSpotlightSizeWhenTooSmall = 320;
constexpr size_t kMinEntriesToRead = 5;

// The seven persisted assignments in key order: standard 1 to 4, extra 0 to 2.
std::array<ButtonAssignment*, 7> persisted(Settings& s) {
  return {&s.StandardButtonAssignments[1], &s.StandardButtonAssignments[2],
          &s.StandardButtonAssignments[3], &s.StandardButtonAssignments[4],
          &s.ExtraButtonAssignments[0],    &s.ExtraButtonAssignments[1],
          &s.ExtraButtonAssignments[2]};
}

// The profiles of dict, or the reason they cannot be kept.
std::string readProfiles(const PlistDictionary& dict, ProfileList& list) {
  std::vector<PlistDictionary> items;
  std::string fault;
  if (!dict.dictionaries(kProfilesKey, items, fault)) return fault;
  if (items.size() > kMaxProfiles) {
    return std::to_string(items.size()) + " profiles, at most " + std::to_string(kMaxProfiles);
  }
  list.clear();
  for (const PlistDictionary& item : items) {
    ApplicationProfile& p = list.emplace_back();
    p.application = item.stringValue(kProfileApplicationKey);
    for (size_t slot = 0; slot < kProfileSlots; ++slot) {
      if (!item.has(kSettingsKeys[1 + slot])) continue;
      p.assignments[slot] = ButtonAssignmentValue{item.intValue(kSettingsKeys[1 + slot]),
                                                  item.intValue(kSettingsKeys[8 + slot]),
                                                  item.intValue(kSettingsKeys[15 + slot])};
    }
  }
  fault = profileListFault(list);
  if (!fault.empty()) list.clear();
  return fault;
}

void writeProfiles(PlistDictionary& dict, const ProfileList& list) {
  if (list.empty()) {
    dict.remove(kProfilesKey);
    return;
  }
  std::vector<PlistDictionary> items;
  for (const ApplicationProfile& p : list) {
    PlistDictionary& item = items.emplace_back();
    item.setString(kProfileApplicationKey, p.application);
    for (size_t slot = 0; slot < kProfileSlots; ++slot) {
      if (!p.assignments[slot]) continue;
      item.setString(kSettingsKeys[1 + slot], std::to_string(p.assignments[slot]->code));
      item.setString(kSettingsKeys[8 + slot], std::to_string(p.assignments[slot]->op1));
      item.setString(kSettingsKeys[15 + slot], std::to_string(p.assignments[slot]->op2));
    }
  }
  dict.setDictionaries(kProfilesKey, items);
}

// A file read whole whose profiles cannot be kept counts as damaged.
void checkProfiles(PlistDictionary::ReadResult& read, ProfileList& list) {
  if (read.status != PlistDictionary::Status::Ok) return;
  if (std::string fault = readProfiles(read.dictionary, list); !fault.empty()) {
    read.status = PlistDictionary::Status::Damaged;
    read.reason = fault;
  }
}

// The masks the mice are sent: intercept, with every button that the
// general table or a profile gives a function; the extra buttons' bits
// follow the assignments alone.
void storeMasks(Settings& settings, uint8_t intercept, const ButtonMasks& masks) {
  settings.interceptMask.store(intercept | masks.intercept, std::memory_order_relaxed);
  const uint8_t hid = settings.hidButtonMask.load(std::memory_order_relaxed) & ~uint8_t{0x06};
  settings.hidButtonMask.store(hid | masks.hid, std::memory_order_relaxed);
}

void createFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  if (!std::filesystem::exists(folder, ec)) std::filesystem::create_directories(folder, ec);
}

// Moves file to a name of its own beside it, with the time in it:
// button.plist.damaged-20250131-142233, then -2, -3 in the same second. The
// name is reserved before the move, so no earlier copy is ever replaced.
// Empty, with reason, when the file stays.
std::filesystem::path setAside(const std::filesystem::path& file, std::string& reason) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string stem = file.string() + ".damaged-" + stamp;
  for (int n = 1; n <= 100; ++n) {
    std::filesystem::path aside = n == 1 ? stem : stem + "-" + std::to_string(n);
    const int fd = open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      reason = std::strerror(errno);
      return {};
    }
    close(fd);
    if (rename(file.c_str(), aside.c_str()) == 0) return aside;
    reason = std::strerror(errno);
    unlink(aside.c_str());
    return {};
  }
  reason = "every name is taken";
  return {};
}

}  // namespace

SettingsStore::SettingsStore(Settings& settings, std::filesystem::path folder,
                             std::filesystem::path defaultFile)
    : settings_(settings),
      folder_(std::move(folder)),
      file_(folder_ / kSettingsFileName),
      defaultFile_(std::move(defaultFile)) {}

void SettingsStore::loadSettings() {
  createFolder(folder_);

  std::error_code ec;
  std::string reason;
  if (!std::filesystem::exists(file_, ec) && !ec) {
    logFormat("Error: Create set file: %s", file_.c_str());
    if (!copyFileAtomically(defaultFile_, file_, reason)) {
      logFormat("Error: copy %s to %s: %s", defaultFile_.c_str(), file_.c_str(), reason.c_str());
    }
  }

  auto read = PlistDictionary::read(file_);
  ProfileList profiles;
  checkProfiles(read, profiles);
  if (read.status == PlistDictionary::Status::Ok) {
    if (!copyFileAtomically(file_, backupFile(), reason)) {
      logFormat("Error: Save set file: %s: %s", backupFile().c_str(), reason.c_str());
    }
  } else if (read.status != PlistDictionary::Status::Missing) {
    logFormat("Error: Read set file: %s: %s", file_.c_str(), read.reason.c_str());
    auto backup = PlistDictionary::read(backupFile());
    checkProfiles(backup, profiles);
    if (backup.status == PlistDictionary::Status::Ok) {
      logFormat("Error: Read set file: %s: the settings of %s instead", file_.c_str(),
                backupFile().c_str());
      read = std::move(backup);
    }
  }
  const PlistDictionary& dict = read.dictionary;

  for (auto& a : settings_.StandardButtonAssignments) a.code.store(0, std::memory_order_relaxed);
  for (auto& a : settings_.ExtraButtonAssignments) a.code.store(0, std::memory_order_relaxed);

  size_t count = read.status == PlistDictionary::Status::Ok ? dict.size() : 0;
  logFormat("load setting ... count=%lu", static_cast<unsigned long>(count));

  if (count >= kMinEntriesToRead) {
    settings_.spotlightSize.store(dict.intValue(kSettingsKeys[0]), std::memory_order_relaxed);
    auto slots = persisted(settings_);
    for (size_t i = 0; i < slots.size(); ++i) {
      slots[i]->code.store(dict.intValue(kSettingsKeys[1 + i]), std::memory_order_relaxed);
      slots[i]->op1.store(dict.intValue(kSettingsKeys[8 + i]), std::memory_order_relaxed);
      slots[i]->op2.store(dict.intValue(kSettingsKeys[15 + i]), std::memory_order_relaxed);
    }
  }

  if (settings_.spotlightSize.load(std::memory_order_relaxed) < kMinSpotlightSize) {
    settings_.spotlightSize.store(kSpotlightSizeWhenTooSmall, std::memory_order_relaxed);
  }

  // Every button that the general table or a profile gives a function.
  if (read.status != PlistDictionary::Status::Ok) profiles.clear();
  storeMasks(settings_, settings_.interceptMask.load(std::memory_order_relaxed),
             unionMasks(settings_, profiles));
  if (profiles_) profiles_->setList(std::move(profiles));
}

void SettingsStore::saveSettings() {
  createFolder(folder_);

  auto read = PlistDictionary::read(file_);
  ProfileList stored;
  checkProfiles(read, stored);
  std::string reason;
  switch (read.status) {
    case PlistDictionary::Status::Ok:
      break;
    case PlistDictionary::Status::Unreadable:
      // Perhaps it can be read later, and it may hold more than we know.
      logFormat("Error: Save set file: %s: %s; not written over", file_.c_str(),
                read.reason.c_str());
      return;
    case PlistDictionary::Status::Damaged:
      // Replaced by a fresh file, and kept beside it under a name of its own.
      if (std::filesystem::path aside = setAside(file_, reason); !aside.empty()) {
        logFormat("Error: Read set file: %s: kept as %s", file_.c_str(), aside.c_str());
      } else {
        logFormat("Error: Save set file: %s: cannot keep it aside (%s); not written over",
                  file_.c_str(), reason.c_str());
        return;
      }
      [[fallthrough]];
    case PlistDictionary::Status::Missing:
      read.dictionary = PlistDictionary();
      break;
  }
  PlistDictionary& dict = read.dictionary;

  auto text = [](int32_t v) { return std::to_string(v); };
  dict.setString(kSettingsKeys[0], text(settings_.spotlightSize.load(std::memory_order_relaxed)));
  auto slots = persisted(settings_);
  for (size_t i = 0; i < slots.size(); ++i) {
    dict.setString(kSettingsKeys[1 + i], text(slots[i]->code.load(std::memory_order_relaxed)));
  }
  for (size_t i = 0; i < slots.size(); ++i) {
    dict.setString(kSettingsKeys[8 + i], text(slots[i]->op1.load(std::memory_order_relaxed)));
  }
  for (size_t i = 0; i < slots.size(); ++i) {
    dict.setString(kSettingsKeys[15 + i], text(slots[i]->op2.load(std::memory_order_relaxed)));
  }

  if (profiles_) writeProfiles(dict, profiles_->list());

  if (!writeFileAtomically(file_, dict.toXml(), reason)) {
    logFormat("Error: Save set file: %s: %s", file_.c_str(), reason.c_str());
  }
}

void SettingsStore::commitAssignments(uint8_t mask) {
  // The mice keep every button that any profile needs, so that a change of
  // focus never reconfigures them.
  storeMasks(settings_, mask, unionMasks(settings_, profiles_ ? profiles_->list() : ProfileList()));
  saveSettings();
  if (scheduler_) scheduler_->armConfigCountdown(1);
}

std::string SettingsStore::commitProfiles(ProfileList list) {
  if (!profiles_) return "no profiles here";
  if (std::string fault = profileListFault(list); !fault.empty()) return fault;
  profiles_->setList(std::move(list));
  commitAssignments(unionMasks(settings_, {}).intercept);
  return {};
}

}  // namespace velt
