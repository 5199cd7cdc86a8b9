// The supported mouse models, read from the "model" folder of the resources:
// one folder per model with a model.json and the model's picture.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/geometry.h"
#include "device/device_identity.h"

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

// Keyed by "model_name"; iterated in name order.
using ModelCatalogue = std::map<std::string, ModelDefinition>;

// Reads every model folder under modelFolder, in folder-name order; a later
// folder with the same model name replaces an earlier one. A malformed folder
// is skipped with one log line naming it and the reason.
ModelCatalogue loadModelCatalogue(const std::filesystem::path& modelFolder);

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
