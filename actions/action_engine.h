// What a press or release of an assigned button does: the action table.
// Keys, media keys and pointer modes happen on the calling thread before the
// call returns; desktop commands and the overlay are handed to the main
// thread, so a call never holds its thread for more than a moment.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "actions/desktop_commands.h"
#include "actions/synthetic_events.h"
#include "actions/synthetic_input.h"
#include "core/button_function.h"
#include "core/main_thread.h"
#include "core/overlay_control.h"
#include "core/pointer_modes.h"

namespace velt {

// The WM_CLASS class of the presentation program whose keys codes 20 to 22
// send.
inline constexpr std::string_view kPresentationApplication = "libreoffice-impress";

struct ActionEntry;  // one row of the action table

class ActionEngine : public ButtonFunctionRunner {
 public:
  ActionEngine(SyntheticEvents& events, DesktopCommands& desktop, ActiveWindowQuery& windows,
               PointerModeState& modes, MainThread& mainThread);

  // The overlay and the tap re-evaluation; either may stay null, and the
  // functions that need it then do nothing. Set at start-up.
  void setOverlayControl(OverlayControl* overlay) { overlay_.store(overlay); }
  void setTapControl(TapControl* taps) { taps_.store(taps); }

  void runButtonFunction(uint8_t code, int pressed, uint8_t op1, uint8_t op2) override;

  // Whether the active window belongs to the application whose WM_CLASS class
  // is name (compared without regard to case).
  bool isFrontmostApplication(std::string_view name);

 private:
  void perform(const ActionEntry& action, bool pressed, uint8_t op1, uint8_t op2);
  void pressChord(const ActionEntry& action);
  void pressShortcut(uint8_t key, uint8_t modifiers);
  void releaseShortcut(uint8_t key, uint8_t modifiers);
  void setWheelMode(int32_t mode);
  void setMotionMode(int32_t mode, bool pressed);
  void spotlight(bool pressed);
  void magnifier();

  SyntheticEvents& events_;
  DesktopCommands& desktop_;
  ActiveWindowQuery& windows_;
  PointerModeState& modes_;
  MainThread& mainThread_;
  std::atomic<OverlayControl*> overlay_{nullptr};
  std::atomic<TapControl*> taps_{nullptr};
};

}  // namespace velt
