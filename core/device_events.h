// How the device layer and the event taps meet: the taps hand standard
// buttons to the dispatcher, and learn which supported mice are registered.
#pragma once

#include <cstdint>
#include <vector>

namespace velt {

struct UsbId {
  int32_t vendorId = 0;
  int32_t productId = 0;
  bool operator==(const UsbId&) const = default;
};

// What the event taps need from the device layer.
class ButtonMaskSink {
 public:
  virtual ~ButtonMaskSink() = default;
  // A supported mouse is selected and present.
  virtual bool deviceActive() const = 0;
  // Hands a standard-button state (bit n: button n down) to the dispatcher.
  // Any thread; returns at once.
  virtual void postButtonMask(uint8_t mask) = 0;
};

// Learns which supported mice are registered, so that their ordinary input
// nodes can be taken over.
class RegistryObserver {
 public:
  virtual ~RegistryObserver() = default;
  // The USB ids of every registered device (type not 0), in registry order,
  // after each change. Called on a device-layer thread.
  virtual void registeredDevicesChanged(const std::vector<UsbId>& devices) = 0;
};

}  // namespace velt
