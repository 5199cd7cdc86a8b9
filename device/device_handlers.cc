#include "device/device_handlers.h"

namespace velt {

InputReportEffects handleInputReport(DeviceRegistry& registry, DeviceHandle device,
                                     uint8_t reportId, const uint8_t* report, size_t length) {
  InputReportEffects effects;
  RegisteredDevice* d = registry.find(device);
  if (!d) return effects;
  const DecodedReport decoded =
      decodeInputReport(d->type, d->attributes.swap45 != 0, reportId, report, length);
  d->held.note(decoded);
  if (decoded.status == DecodedReport::TooShort && !d->shortReportLogged) {
    d->shortReportLogged = true;
    effects.shortOfNeeded = decoded.needed;
  }
  if (decoded.status != DecodedReport::Buttons) return effects;
  if (decoded.hasMask) effects.mask = decoded.mask;
  effects.extraCode = decoded.extraCode;
  return effects;
}

RemovalEffects handleRemoval(DeviceRegistry& registry, DeviceHandle device) {
  HeldButtons held;
  if (const RegisteredDevice* d = registry.find(device)) held = d->held;
  RemovalEffects effects;
  effects.wasPresent = registry.markRemoved(device);
  effects.releaseMask = held.mask != 0;
  effects.releaseExtraButton0 = held.extraButton0;
  return effects;
}

Selection chooseSelection(const std::vector<DeviceRecord>& devices, int32_t index) {
  Selection selection;
  const auto count = static_cast<int32_t>(devices.size());
  selection.index = index < 0 || index >= count ? 0 : index;
  if (selection.index < count) selection.device = devices[selection.index];
  return selection;
}

Selection followSelection(const std::vector<DeviceRecord>& devices, const DeviceRecord& selected) {
  return chooseSelection(devices, indexOfDevice(devices, selected));
}

}  // namespace velt
