// From the mice's vendor input reports to button functions: decoding the
// reports, and turning button-state changes and extra-button codes into calls
// of runButtonFunction.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/button_function.h"
#include "core/settings.h"
#include "device/model_catalogue.h"

namespace velt {

struct DecodedReport {
  enum Status {
    Ignored,   // not a button report of this device type
    TooShort,  // a button report, but shorter than its layout
    Buttons,
  };
  Status status = Ignored;
  size_t needed = 0;     // TooShort: the length the layout needs
  bool hasMask = false;  // Buttons: mask is the standard-button state
  uint8_t mask = 0;
  uint8_t extraCode = 0;  // Buttons: an extra-button code, 0 for none
};

// Decodes one input report of a device of the given type. report holds at
// least length bytes.
DecodedReport decodeInputReport(int32_t type, bool swap45, uint8_t reportId, const uint8_t* report,
                                size_t length);

// What one mouse holds down, as its reports tell: its standard buttons, and
// extra button 0 between its press and release codes. A mouse that goes
// never sends their releases; whoever sees it go must.
struct HeldButtons {
  uint8_t mask = 0;
  bool extraButton0 = false;
  void note(const DecodedReport& report);
};

// The function an extra button performs when its assignment code is 0.
inline constexpr std::array<int32_t, 3> ExtraButtonDefaults = {18, 8, 7};

// Turns button states and extra-button codes into runButtonFunction calls,
// with the assignments as they are at the moment of the call. Not locked:
// the device layer calls it from its dispatch thread alone.
class ButtonDispatcher {
 public:
  // assignments: what a press starts (the focused application's profile);
  // null: the general table of settings.
  ButtonDispatcher(const Settings& settings, const ExtraButtonEnabled& extraButtonEnabled,
                   ButtonFunctionRunner& runner,
                   const ButtonAssignmentSource* assignments = nullptr)
      : settings_(settings),
        extraButtonEnabled_(extraButtonEnabled),
        runner_(runner),
        assignments_(assignments) {}

  // One call per changed bit 0 to 5 against the previous state, in bit
  // order. Bits 6 and 7 are remembered only. A
  // release carries the assignment its press was dispatched with, so a
  // function changed while its button is held still ends (no key or pointer
  // mode is left on).
  void consumeButtonMask(uint8_t mask);
  // A press with pressCode and/or a release with releaseCode, for each
  // enabled extra button whose codes they are. As above, a release ends the function its press
  // started.
  void postExtraButtonCode(uint8_t pressCode, uint8_t releaseCode);
  // Ends whatever every held standard and extra button started.
  void releaseAll();

 private:
  void run(const ButtonAssignmentValue& a, bool pressed);

  const Settings& settings_;
  const ExtraButtonEnabled& extraButtonEnabled_;
  ButtonFunctionRunner& runner_;
  const ButtonAssignmentSource* assignments_;
  uint8_t lastButtonMask_ = 0;
  // What each held standard and extra button was pressed with.
  std::array<std::optional<ButtonAssignmentValue>, 6> pressedStandard_;
  std::array<std::optional<ButtonAssignmentValue>, 3> pressedExtra_;
};

}  // namespace velt
