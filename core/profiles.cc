#include "core/profiles.h"

#include <set>
#include <utility>

namespace velt {

bool isApplicationId(std::string_view id) {
  if (id.empty() || id.size() > kMaxApplicationIdBytes) return false;
  if (id.front() == '.' || id.front() == '-') return false;
  for (char c : id) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '.' && c != '_' && c != '-' && c != '+') return false;
  }
  return true;
}

std::string profileListFault(const ProfileList& list) {
  if (list.size() > kMaxProfiles) {
    return std::to_string(list.size()) + " profiles, at most " + std::to_string(kMaxProfiles);
  }
  std::set<std::string_view> seen;
  for (const ApplicationProfile& p : list) {
    if (!isApplicationId(p.application))
      return "profile of \"" + p.application + "\": no application id";
    if (!seen.insert(p.application).second) return "two profiles of " + p.application;
  }
  return {};
}

const ButtonAssignment& generalSlot(const Settings& settings, size_t slot) {
  return slot < 4 ? settings.StandardButtonAssignments[slot + 1]
                  : settings.ExtraButtonAssignments[slot - 4];
}

ButtonAssignment& generalSlot(Settings& settings, size_t slot) {
  return const_cast<ButtonAssignment&>(generalSlot(std::as_const(settings), slot));
}

ButtonAssignmentValue effectiveAssignment(const Settings& settings,
                                          const ApplicationProfile* profile, size_t slot) {
  if (profile && profile->assignments[slot]) return *profile->assignments[slot];
  return generalSlot(settings, slot).load();
}

ButtonMasks unionMasks(const Settings& settings, const ProfileList& list) {
  ButtonMasks masks;
  auto add = [&masks](size_t slot, int32_t code) {
    if (code == 0) return;
    if (slot < 4) masks.intercept |= static_cast<uint8_t>(1u << (slot + 1));
    if (slot == 5) masks.hid |= 0x04;
    if (slot == 6) masks.hid |= 0x02;
  };
  for (size_t slot = 0; slot < kProfileSlots; ++slot) {
    add(slot, effectiveAssignment(settings, nullptr, slot).code);
    for (const ApplicationProfile& p : list)
      add(slot, effectiveAssignment(settings, &p, slot).code);
  }
  return masks;
}

void Profiles::setList(ProfileList list) {
  std::lock_guard lock(mutex_);
  list_ = std::move(list);
  chooseActiveLocked();
}

ProfileList Profiles::list() const {
  std::lock_guard lock(mutex_);
  return list_;
}

void Profiles::setFocusedApplication(std::string id) {
  std::lock_guard lock(mutex_);
  if (id == focused_) return;
  focused_ = std::move(id);
  chooseActiveLocked();
}

std::string Profiles::focusedApplication() const {
  std::lock_guard lock(mutex_);
  return focused_;
}

std::shared_ptr<const ApplicationProfile> Profiles::active() const {
  std::lock_guard lock(mutex_);
  return active_;
}

ButtonAssignmentValue ProfileAssignments::standardButton(size_t n) const {
  if (n < 1 || n > 4) return settings_.StandardButtonAssignments.at(n).load();
  ButtonAssignmentValue v = effectiveAssignment(settings_, profiles_.active().get(), n - 1);
  const uint8_t diverted = settings_.interceptMask.load(std::memory_order_relaxed);
  if (v.code == kFunctionDefault && (diverted & (1u << n)))
    v = {kFunctionStandardButton, static_cast<int32_t>(n), 0};
  return v;
}

ButtonAssignmentValue ProfileAssignments::extraButton(size_t i) const {
  return effectiveAssignment(settings_, profiles_.active().get(), 4 + i);
}

void Profiles::chooseActiveLocked() {
  active_.reset();
  for (const ApplicationProfile& p : list_) {
    if (!focused_.empty() && p.application == focused_) {
      active_ = std::make_shared<const ApplicationProfile>(p);
      return;
    }
  }
}

}  // namespace velt
