// The supported mouse models, read from the "model" folder of the resources:
// one folder per model with a model.json and the model's picture, and beside
// them device_classes.json, the rules that tell from a HID device's ids,
// usage and report sizes which kind of mouse it is.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/geometry.h"
#include "device/device_identity.h"
#include "device/hid_transport.h"

namespace velt {

// One "hid_num" entry: an extra button's codes and where its control sits.
struct ExtraButtonSpec {
  int32_t down = 0;  // code reported on press ("down", truncated)
  int32_t up = 0;    // code reported on release ("up", truncated)
  PointF pos;
};

struct ModelDefinition {
  std::string name;                     // "model_name"
  std::string imagePath;                // absolute path of "model_image"
  int32_t type = 0;                     // "model_define"."type"
  int32_t modelId = 0;                  // "model_define"."model_id"
  int32_t usbVid = 0;                   // "model_define"."usb_vid", hexadecimal
  int32_t usbPid = 0;                   // "model_define"."usb_pid", hexadecimal
  int32_t buttonMask = 0;               // "model_define"."button", hexadecimal
  int32_t swap45 = 0;                   // "model_define"."swap45", 0 when absent
  std::vector<PointF> buttonPos;        // "button_pos", at least 5
  std::vector<ExtraButtonSpec> hidNum;  // "hid_num", at most 4
};

inline constexpr int32_t kTypeMatchesAnyModel = 254;
inline constexpr size_t kMinButtonPositions = 5;
inline constexpr size_t kMaxExtraButtons = 4;

// What a HID device is, judged from its properties alone.
enum class DeviceKind {
  Ignored,
  Type1Mouse,  // the mouse interface of a type-1 mouse: handshake "IR"
  Type1Input,  // its vendor interface: input reports only, model id -1
  Type2,       // serial number or handshake "AB"
  Type6,       // handshake "BT"
  Type7,       // no handshake, model id 0
  Type10,      // handshake "AM"
  OtherMouse,  // any other mouse: type 254, matched on its USB id alone
};

// One entry of device_classes.json: a device is of this kind when it meets
// every condition the entry gives.
struct DeviceClassRule {
  // A report size that must be met exactly, or at least.
  struct Size {
    int32_t bytes = 0;
    bool atLeast = false;
  };
  DeviceKind kind = DeviceKind::Ignored;
  std::optional<int32_t> vendorId;      // "usb_vid", hexadecimal
  std::vector<int32_t> productIds;      // "usb_pid", hexadecimal, any of them
  std::optional<uint32_t> usagePage;    // "usage_page", hexadecimal
  std::optional<uint32_t> usage;        // "usage", hexadecimal
  std::optional<int32_t> lastReportId;  // "last_report_id"
  // "input_size", "output_size", "feature_size", or the same with "_min"
  std::optional<Size> input, output, feature;
};
// Tried in order; the first rule a device meets gives its kind.
using DeviceClasses = std::vector<DeviceClassRule>;

inline constexpr const char* kDeviceClassesFile = "device_classes.json";

// Keyed by "model_name"; iterated in name order. The classification rules
// travel with the models.
struct ModelCatalogue : std::map<std::string, ModelDefinition> {
  DeviceClasses classes;
};

// Reads every model folder under modelFolder, in folder-name order, and
// modelFolder's device_classes.json; a later folder with the same model name
// replaces an earlier one. A malformed folder is skipped, and a missing or
// malformed rule file leaves no rule (every device is ignored), each with one
// log line naming the file and the reason.
ModelCatalogue loadModelCatalogue(const std::filesystem::path& modelFolder);

// Parses a device_classes.json text: all of it, or on failure nothing, and
// false with the reason.
bool parseDeviceClasses(std::string_view json, DeviceClasses& out, std::string& reason);

// The kind of the first rule the device meets; Ignored when none.
DeviceKind classifyDevice(const DeviceClasses& classes, const HidProperties& properties);

// Parses one model.json text. On failure returns false and sets reason.
bool parseModelDefinition(std::string_view json, const std::filesystem::path& folder,
                          ModelDefinition& out, std::string& reason);

// The (press, release) code pairs of extra buttons 0, 1 and 2.
struct ExtraButtonCode {
  int32_t press;
  int32_t release;
};
inline constexpr std::array<ExtraButtonCode, 3> ExtraButtonCodes = {
    {{0xFE, 0xFD}, {0xFA, 0xFA}, {0xFC, 0xFC}}};

// Which extra buttons some examined model declares. Flags only go from clear
// to set while the agent runs.
using ExtraButtonEnabled = std::array<std::atomic<bool>, 3>;

// Finds the model for an identity, walking the catalogue in order and stopping
// at the first match. Every model examined on the way, the match included,
// enables the extra buttons its "hid_num" declares. nullptr when none matches.
const ModelDefinition* matchModel(const ModelCatalogue& catalogue, const DeviceIdentity& identity,
                                  ExtraButtonEnabled& extraButtonEnabled);

}  // namespace velt
