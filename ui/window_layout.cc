#include "ui/window_layout.h"

#include <algorithm>
#include <cmath>

namespace velt {
namespace {

// Standard button of slots 1 to 3 and its bit in the record's buttonMask.
constexpr std::array<int, 3> kSlotButton = {2, 3, 4};

bool hasStandardButton(const DeviceRecord& record, int slot) {
  return (record.buttonMask & (1 << kSlotButton[slot])) != 0;
}

// The record's entry for extra slot 4, 5 or 6, or -1 when it has none.
int extraEntryOf(const DeviceRecord& record, int slot) {
  const ExtraButtonCode& codes = ExtraButtonCodes[slot - 3];
  int count = std::clamp(record.extraCount, 0, static_cast<int32_t>(record.extraDown.size()));
  for (int i = 0; i < count; ++i) {
    if (record.extraDown[i] == codes.press && record.extraUp[i] == codes.release) return i;
  }
  return -1;
}

}  // namespace

WindowPlan planWindow(const DeviceRecord& record, int32_t deviceCount, const WindowGeometry& g) {
  WindowPlan plan;
  if (record.type == 0) {
    plan.devMsgVisible = true;
    return plan;
  }
  plan.deviceFound = true;
  plan.mouseImageVisible = true;
  plan.modelNameVisible = deviceCount <= 1;
  plan.modelTitleVisible = plan.deviceListVisible = deviceCount >= 2;

  // The column's measures. The arithmetic runs with y upwards from the
  // bottom of buttonView, as the column is laid out from its top down.
  const RectF& p = g.mouseImage;
  const float half = static_cast<float>(g.badges[0].height * 0.5);
  const double x = std::trunc(g.popUps[0].x);
  const double viewHeight = g.buttonViewHeight;
  const double top = std::trunc(viewHeight - 15);
  const double gap = -std::trunc(g.popUps[0].height) - 2;
  const int avail = static_cast<int>(std::trunc(viewHeight - 30));
  const float scale = static_cast<float>(p.width / 1000);

  std::array<int, kSlotCount> extraEntry{};
  extraEntry.fill(-1);
  int visible = 0;
  for (int s = 0; s < kSlotCount; ++s) {
    SlotPlacement& slot = plan.slotPlan[s];
    if (s < 3) {
      slot.visible = slot.enabled = hasStandardButton(record, s);
    } else {
      extraEntry[s] = extraEntryOf(record, s);
      slot.visible = slot.enabled = extraEntry[s] >= 0;
    }
    visible += slot.visible;
  }
  const int step = visible > 0 ? avail / visible : avail;

  auto flipped = [&](double yUp, double height) { return viewHeight - yUp - height; };
  double offset = 15;
  int c = 0;
  for (int s = 0; s < kSlotCount; ++s) {
    SlotPlacement& slot = plan.slotPlan[s];
    if (!slot.visible) continue;
    const double labelY = top - offset;
    const RectF& popUp = g.popUps[s];
    const double popUpY = labelY + gap;
    slot.popUp = {x, flipped(popUpY, popUp.height), popUp.width, popUp.height};
    const double shortcutY = popUpY - (popUp.height + 2);
    slot.shortcutLabel = {x, flipped(shortcutY, popUp.height), popUp.width - 10, popUp.height};
    const RectF& caption = g.captions[s];
    slot.caption = {x, flipped(labelY, caption.height), caption.width, caption.height};
    slot.captionNumber = c + 1;

    // The badge sits on the button's point of the picture. Each extra slot
    // takes the position the model gives for the entry that matched it.
    PointF point = s < 3 ? record.buttonPos[kSlotButton[s]] : record.extraPos[extraEntry[s]];
    const RectF& badge = g.badges[c];
    BadgePlacement& placement = plan.badges[c];
    placement.visible = true;
    placement.frame = {p.x + point.x * scale - half, p.y + point.y * scale + half - badge.height,
                       badge.width, badge.height};
    offset += step;
    ++c;
  }
  return plan;
}

}  // namespace velt
