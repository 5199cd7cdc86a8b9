// Where the configuration window puts its slots and badges for one device.
// Plain arithmetic over frames; the window applies the result.
#pragma once

#include <array>
#include <cstdint>

#include "core/geometry.h"
#include "device/device_record.h"
#include "ui/slot_menus.h"

namespace velt {

// Frames are in their parent's coordinates, origin at the top left, y
// downwards. The frames of the window's fixed controls, as laid out in the
// interface file:
struct WindowGeometry {
  RectF mouseImage;                        // in the picture area
  std::array<RectF, kSlotCount> badges;    // B1Image..B6Image, same parent as mouseImage
  std::array<RectF, kSlotCount> popUps;    // funcList1..6, in buttonView
  std::array<RectF, kSlotCount> captions;  // textB3..textHid3, in buttonView
  double buttonViewHeight = 0;
};

struct SlotPlacement {
  bool visible = false;
  bool enabled = false;
  RectF popUp;
  RectF caption;
  RectF shortcutLabel;
  int captionNumber = 0;  // the running number shown after the "button" text
};

struct BadgePlacement {
  bool visible = false;
  RectF frame;  // where the badge moves to
};

struct WindowPlan {
  bool deviceFound = false;  // the device view; otherwise "device not found"
  bool modelNameVisible = false;
  bool modelTitleVisible = false;
  bool deviceListVisible = false;
  bool devMsgVisible = false;
  bool mouseImageVisible = false;
  std::array<SlotPlacement, kSlotCount> slotPlan;
  std::array<BadgePlacement, kSlotCount> badges;  // badge n is B<n+1>Image
};

// Lays the window out for the selected device's record; deviceCount is the
// number of selectable devices. Positions in the record are in thousandths of
// the displayed picture's width, from its top left corner.
WindowPlan planWindow(const DeviceRecord& record, int32_t deviceCount, const WindowGeometry& g);

}  // namespace velt
