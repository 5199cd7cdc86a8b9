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

}  // namespace velt
