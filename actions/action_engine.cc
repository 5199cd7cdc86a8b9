#include "actions/action_engine.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <exception>

#include "actions/key_codes.h"
#include "core/log.h"
#include "core/settings.h"

namespace velt {

enum class ActionKind : uint8_t {
  None,
  Chord,              // keys: modifiers down, key down, key up, modifiers up
  PresentationChord,  // a chord, only while the presentation program is active
  MediaKey,           // parameter: the media key type, tapped
  Desktop,            // parameter: the DesktopFunction
  Spotlight,
  Magnifier,
  WheelMode,   // parameter: the wheelMode while held
  MotionMode,  // parameter: the motionMode while held
  Shortcut,    // the recorded key and modifiers, held while the button is
};

struct ActionEntry {
  ActionKind kind = ActionKind::None;
  int32_t parameter = 0;
  std::array<int32_t, 3> keys{};  // modifiers first, the key last
  uint8_t keyCount = 0;
};

namespace {

using Action = ActionEntry;

constexpr Action chord(ActionKind kind, std::initializer_list<int32_t> keys) {
  Action a{kind};
  for (int32_t k : keys) a.keys[a.keyCount++] = k;
  return a;
}
constexpr Action keys(std::initializer_list<int32_t> k) {
  return chord(ActionKind::Chord, k);
}
constexpr Action presentationKey(int32_t key) {
  return chord(ActionKind::PresentationChord, {key});
}
constexpr Action with(ActionKind kind, int32_t parameter = 0) {
  return Action{kind, parameter};
}
constexpr Action desktop(DesktopFunction f) {
  return with(ActionKind::Desktop, static_cast<int32_t>(f));
}

// Virtual key codes of the keys the table sends.
constexpr int32_t kVkA = 0, kVkX = 7, kVkC = 8, kVkV = 9, kVkB = 11, kVkF5 = 96, kVkLeft = 123,
                  kVkRight = 124;
// Linux names for the modifiers: Ctrl is control, Alt is option.
constexpr int32_t kCtrl = kVkControl, kAlt = kVkOption;

constexpr int kLastCode = 30;

// Indexed by FunctionCode.
constexpr std::array<Action, kLastCode + 1> kActions = {{
    {},                                             // 0 Default
    desktop(DesktopFunction::WindowOverview),       // 1 Window overview
    keys({kAlt, kVkLeft}),                          // 2 Navigation backward
    keys({kAlt, kVkRight}),                         // 3 Navigation forward
    desktop(DesktopFunction::ShowDesktop),          // 4 Show desktop
    desktop(DesktopFunction::ApplicationWindows),   // 5 Application windows
    desktop(DesktopFunction::Dashboard),            // 6 Widgets (no desktop has them)
    with(ActionKind::MediaKey, kMediaSoundUp),      // 7 Volume+
    with(ActionKind::MediaKey, kMediaSoundDown),    // 8 Volume-
    with(ActionKind::MediaKey, kMediaMute),         // 9 Mute
    with(ActionKind::MediaKey, kMediaPlay),         // 10 Play/Stop
    with(ActionKind::MediaKey, kMediaPrevious),     // 11 Prev track
    with(ActionKind::MediaKey, kMediaNext),         // 12 Next track
    keys({kCtrl, kVkC}),                            // 13 Copy
    keys({kCtrl, kVkX}),                            // 14 Cut
    keys({kCtrl, kVkV}),                            // 15 Paste
    desktop(DesktopFunction::FileManager),          // 16 Open file manager
    desktop(DesktopFunction::Screenshot),           // 17 Screenshot
    with(ActionKind::Spotlight),                    // 18 Spotlight
    with(ActionKind::Magnifier),                    // 19 Magnifier
    presentationKey(kVkB),                          // 20 black screen
    presentationKey(kVkF5),                         // 21 start the show
    presentationKey(kVkLeft),                       // 22 previous slide
    with(ActionKind::WheelMode, kWheelHorizontal),  // 23
    with(ActionKind::WheelMode, kWheelVolume),      // 24
    with(ActionKind::MotionMode, kMotionScroll),    // 25
    with(ActionKind::MotionMode, kMotionVolume),    // 26
    with(ActionKind::Shortcut),                     // 27 Keyboard shortcut
    keys({kAlt, kVkA}),                             // 28 meeting: microphone
    keys({kAlt, kVkV}),                             // 29 meeting: camera
    desktop(DesktopFunction::ApplicationGrid),      // 30 Show applications
}};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

ActionEngine::ActionEngine(SyntheticEvents& events, DesktopCommands& desktop,
                           ActiveWindowQuery& windows, PointerModeState& modes,
                           MainThread& mainThread)
    : events_(events),
      desktop_(desktop),
      windows_(windows),
      modes_(modes),
      mainThread_(mainThread) {}

void ActionEngine::runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) {
  if (code == kFunctionStandardButton) {
    events_.postPointerButton(op1, pressed != 0);
    return;
  }
  if (code < 1 || code > kLastCode) return;
  try {
    perform(kActions[code], pressed != 0, op1, op2);
  } catch (const std::exception& e) {
    logLine("exception");
    logDebug("function %u: %s", code, e.what());
  } catch (...) {
    logLine("exception");
  }
}

void ActionEngine::perform(const ActionEntry& action, bool pressed, uint8_t op1, uint8_t op2) {
  switch (action.kind) {
    case ActionKind::None:
      return;
    case ActionKind::Chord:
      if (pressed) pressChord(action);
      return;
    case ActionKind::PresentationChord:
      if (pressed && isFrontmostApplication(kPresentationApplication)) pressChord(action);
      return;
    case ActionKind::MediaKey:
      if (pressed) events_.tapSystemKey(action.parameter);
      return;
    case ActionKind::Desktop:
      if (pressed) desktop_.run(static_cast<DesktopFunction>(action.parameter));
      return;
    case ActionKind::Spotlight:
      spotlight(pressed);
      return;
    case ActionKind::Magnifier:
      if (pressed) magnifier();
      return;
    case ActionKind::WheelMode:
      setWheelMode(pressed ? action.parameter : kWheelOff);
      return;
    case ActionKind::MotionMode:
      setMotionMode(pressed ? action.parameter : kMotionOff, pressed);
      return;
    case ActionKind::Shortcut:
      if (pressed) {
        pressShortcut(op1, op2);
      } else {
        releaseShortcut(op1, op2);
      }
      return;
  }
}

void ActionEngine::pressChord(const ActionEntry& action) {
  for (uint8_t i = 0; i < action.keyCount; ++i) events_.keyDown(action.keys[i]);
  for (uint8_t i = action.keyCount; i > 0; --i) events_.keyUp(action.keys[i - 1]);
}

void ActionEngine::pressShortcut(uint8_t key, uint8_t modifiers) {
  if (modifiers & kModShift) events_.keyDown(kVkShift);
  if (modifiers & kModOption) events_.keyDown(kVkOption);
  if (modifiers & kModCommand) events_.keyDown(kVkCommand);
  if (modifiers & kModControl) events_.keyDown(kVkControl);
  events_.keyDown(key);
}

void ActionEngine::releaseShortcut(uint8_t key, uint8_t modifiers) {
  events_.keyUp(key);
  if (modifiers & kModControl) events_.keyUp(kVkControl);
  if (modifiers & kModCommand) events_.keyUp(kVkCommand);
  if (modifiers & kModOption) events_.keyUp(kVkOption);
  if (modifiers & kModShift) events_.keyUp(kVkShift);
}

void ActionEngine::setWheelMode(int32_t mode) {
  modes_.wheelMode.store(mode, std::memory_order_relaxed);
  if (TapControl* taps = taps_.load()) taps->scheduleWheelTapUpdate(0);
}

void ActionEngine::setMotionMode(int32_t mode, bool pressed) {
  if (pressed) {
    modes_.motionMode.store(kMotionOff, std::memory_order_relaxed);
    events_.recordPointerAnchor(modes_);
  }
  modes_.motionMode.store(mode, std::memory_order_relaxed);
  if (TapControl* taps = taps_.load()) taps->scheduleMotionTapUpdate(0);
}

void ActionEngine::spotlight(bool pressed) {
  OverlayControl* overlay = overlay_.load();
  if (pressed) {
    events_.recordPointerAnchor(modes_);
    if (overlay) mainThread_.post([overlay] { overlay->spotlightPressed(); });
    return;
  }
  if (!overlay) return;
  // Judged on the main thread, after the press: a release that comes before
  // the press was handled there (a quick click, a busy main thread) would see
  // the hold of an earlier pointer dot and show the dot instead.
  mainThread_.post([overlay] {
    if (overlay->spotlightHeld()) {
      overlay->setOverlayShown(false, kDrawPointerDot);
    } else {
      overlay->toggleOverlay(kDrawSpotlight);
    }
  });
}

void ActionEngine::magnifier() {
  events_.recordPointerAnchor(modes_);
  if (OverlayControl* overlay = overlay_.load()) overlay->toggleOverlay(kDrawMagnifier);
}

bool ActionEngine::isFrontmostApplication(std::string_view name) {
  auto active = windows_.activeWindowClass();
  logDebug("focused application: %s", active ? active->className.c_str() : "(unknown)");
  return active && equalsIgnoringCase(active->className, name);
}

}  // namespace velt
