// The agent's key vocabulary is the macOS virtual key code (ANSI layout), as
// stored in button.plist and used by the action table. The virtual keyboard
// speaks Linux input event codes; this table translates between the two.
// The evdev codes are written as plain numbers so that the core needs no
// kernel headers; tests compare them with <linux/input-event-codes.h>.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace velt {

// Modifier virtual key codes.
inline constexpr int32_t kVkCommand = 55;
inline constexpr int32_t kVkShift = 56;
inline constexpr int32_t kVkCapsLock = 57;
inline constexpr int32_t kVkOption = 58;
inline constexpr int32_t kVkControl = 59;

// BTN_LEFT; standard mouse button n is BTN_LEFT + n up to BTN_EXTRA.
inline constexpr uint16_t kEvdevLeftButton = 0x110;

// Device-independent modifier flags, one per modifier key.
inline constexpr uint32_t kFlagCapsLock = 0x00010000;
inline constexpr uint32_t kFlagShift = 0x00020000;
inline constexpr uint32_t kFlagControl = 0x00040000;
inline constexpr uint32_t kFlagOption = 0x00080000;
inline constexpr uint32_t kFlagCommand = 0x00100000;

// Auxiliary (media) key types.
enum MediaKey : int32_t {
  kMediaSoundUp = 0,
  kMediaSoundDown = 1,
  kMediaMute = 7,
  kMediaPlay = 16,
  kMediaNext = 17,
  kMediaPrevious = 18,
};

// Media key states.
inline constexpr int32_t kMediaKeyDown = 10;
inline constexpr int32_t kMediaKeyUp = 11;

struct KeyMapping {
  int32_t virtualKey;
  uint16_t evdev;
};

// Every virtual key code that has a key on the virtual keyboard.
std::span<const KeyMapping> virtualKeyMappings();

// The evdev key for a virtual key code 0..255; nullopt when there is none.
std::optional<uint16_t> evdevKeyFor(int32_t virtualKey);

// The modifier flag of virtual keys 55..59; 0 for any other value.
uint32_t modifierFlagFor(int32_t virtualKey);

// The evdev key of a media key type; nullopt for types the agent does not send.
std::optional<uint16_t> evdevMediaKeyFor(int32_t mediaKey);

// Every evdev key the virtual keyboard must offer: the mapped keys (modifiers
// included) and the media keys, each once, in ascending order.
std::span<const uint16_t> virtualKeyboardKeys();

}  // namespace velt
