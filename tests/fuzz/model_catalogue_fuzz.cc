// A model.json of any content: parsed, matched against the identity it
// describes, registered, and laid out in the configuration window. Badges and
// slots must land on finite positions, whatever the file says. The same text
// as a device_classes.json: refused with a reason, or rules that classify.
#include <cmath>

#include "device/device_registry.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/window_geometry.h"

namespace {

bool finite(const velt::RectF& r) {
  return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
         std::isfinite(r.height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velt::fuzz::QuietLog quiet;
  velt::ModelDefinition model;
  std::string reason;
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  velt::DeviceClasses classes;
  if (velt::parseDeviceClasses(json, classes, reason)) {
    velt::classifyDevice(classes, velt::HidProperties{});
  } else {
    velt::fuzz::check(!reason.empty(), "refused device classes without a reason");
  }
  if (!velt::parseModelDefinition(json, "/models/m", model, reason)) {
    velt::fuzz::check(!reason.empty(), "a refused model without a reason");
    return 0;
  }
  velt::ModelCatalogue catalogue;
  catalogue.emplace(model.name, model);
  velt::ExtraButtonEnabled enabled{};
  velt::DeviceRegistry registry;
  const velt::DeviceIdentity identity{registry.newHandle(), model.type,   model.modelId,
                                      model.usbVid,         model.usbPid, false};
  const velt::ModelDefinition* matched = velt::matchModel(catalogue, identity, enabled);
  if (!matched) return 0;
  registry.registerDevice(identity, *matched);
  for (int32_t index = 0; index < registry.countSelectable(); ++index) {
    const auto record = registry.describe(index);
    velt::fuzz::check(record.has_value(), "a selectable device without a record");
    const velt::WindowPlan plan =
        velt::planWindow(*record, registry.countSelectable(), velt::testing::exampleGeometry());
    for (const auto& badge : plan.badges) {
      velt::fuzz::check(!badge.visible || finite(badge.frame), "a badge off the numbers");
    }
    for (const auto& slot : plan.slotPlan) {
      velt::fuzz::check(!slot.visible || (finite(slot.popUp) && finite(slot.caption)),
                        "a slot off the numbers");
    }
  }
  return 0;
}
