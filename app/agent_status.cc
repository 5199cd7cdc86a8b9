#include "app/agent_status.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "ui/agent_commands.h"

namespace velt {
namespace {

std::string usbIds(int vid, int pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", vid & 0xffff, pid & 0xffff);
  return text;
}

// One line of output per fact, whatever a name holds.
std::string printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else {
      out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    }
  }
  return out;
}

std::string field(const nlohmann::json& object, const char* name) {
  const auto value = object.find(name);
  return value != object.end() && value->is_string() ? printable(value->get<std::string>())
                                                     : std::string("unknown");
}

}  // namespace

// The profile line's text when none applies: the window's name for the
// general table.
constexpr const char* kAllApplications = "All applications";

std::string statusAnswer(DeviceDirectory& devices, ActiveWindowQuery& windows,
                         const Profiles& profiles, const std::vector<std::string>& open) {
  nlohmann::json mice = nlohmann::json::array();
  const int32_t selected = devices.indexOfSelectedDevice();
  const int32_t count = devices.countSelectableDevices();
  for (int32_t i = 0; i < count; ++i) {
    const DeviceRecord record = devices.describeDevice(i);
    if (record.type == 0) continue;  // gone meanwhile
    mice.push_back({{"name", record.name},
                    {"usb", usbIds(record.usbVid, record.usbPid)},
                    {"selected", i == selected}});
  }
  nlohmann::json status{{"mice", mice},
                        {"focus", nullptr},
                        {"application", nullptr},
                        {"profile", nullptr},
                        {"open", open}};
  if (std::string id = profiles.focusedApplication(); !id.empty()) status["application"] = id;
  if (auto active = profiles.active()) status["profile"] = active->application;
  if (std::optional<WindowClass> focused = windows.activeWindowClass()) {
    status["focus"] = focused->className.empty() ? focused->instance : focused->className;
  }
  // Names come from the catalogue and window classes from other programs:
  // replace what is not UTF-8 rather than fail the answer.
  return std::string(kAnswerStatus) +
         status.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<std::string> statusText(std::string_view json) {
  const nlohmann::json status = nlohmann::json::parse(json, nullptr, false);
  if (!status.is_object() || !status.contains("mice") || !status["mice"].is_array()) {
    return std::nullopt;
  }
  std::string text;
  for (const nlohmann::json& mouse : status["mice"]) {
    if (!mouse.is_object()) return std::nullopt;
    const auto selected = mouse.find("selected");
    text += "mouse: " + field(mouse, "name") + " (" + field(mouse, "usb") + ")" +
            (selected != mouse.end() && selected->is_boolean() && selected->get<bool>()
                 ? ", shown in the window"
                 : "") +
            "\n";
  }
  if (status["mice"].empty()) text += "mouse: none found\n";
  text += "focus: " + field(status, "focus") + "\n";
  text += "application: " + field(status, "application") + "\n";
  const auto profile = status.find("profile");
  text += "profile: " +
          (profile != status.end() && profile->is_string() ? field(status, "profile")
                                                           : std::string(kAllApplications)) +
          "\n";
  // An agent of the version before lists none.
  std::string open;
  if (const auto ids = status.find("open"); ids != status.end() && ids->is_array()) {
    for (const nlohmann::json& id : *ids) {
      if (id.is_string()) open += (open.empty() ? "" : ", ") + printable(id.get<std::string>());
    }
  }
  text += "open: " + (open.empty() ? std::string("none") : open) + "\n";
  return text;
}

}  // namespace velt
