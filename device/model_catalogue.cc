#include "device/model_catalogue.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

#include "core/log.h"
#include "core/number_text.h"

namespace velt {
namespace {

using Json = nlohmann::json;

// The catalogue's files are a few hundred bytes or a few kilobytes.
constexpr std::uintmax_t kMaxModelJsonBytes = 256 * 1024;

int32_t truncateToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// An integer given as a JSON number or as a numeric string.
std::optional<int32_t> readInt(const Json& v) {
  if (v.is_number()) return truncateToInt32(v.get<double>());
  if (v.is_string()) return leadingInt(v.get_ref<const std::string&>());
  return std::nullopt;
}

// A number given as a JSON number or as a numeric string.
std::optional<double> readDouble(const Json& v) {
  if (v.is_number()) return v.get<double>();
  if (v.is_string()) return leadingDouble(v.get_ref<const std::string&>());
  return std::nullopt;
}

struct Parser {
  std::string& reason;

  bool fail(std::string text) {
    reason = std::move(text);
    return false;
  }

  bool text(const Json& obj, const char* key, std::string& out) {
    auto it = obj.find(key);
    if (it == obj.end()) return fail(std::string("missing \"") + key + "\"");
    if (!it->is_string()) return fail(std::string("\"") + key + "\" is not text");
    out = it->get<std::string>();
    return true;
  }

  bool integer(const Json& obj, const char* key, int32_t& out) {
    auto it = obj.find(key);
    if (it == obj.end()) return fail(std::string("missing \"") + key + "\"");
    auto v = readInt(*it);
    if (!v) return fail(std::string("\"") + key + "\" is not a number");
    out = *v;
    return true;
  }

  bool hex(const Json& obj, const char* key, int32_t& out) {
    auto it = obj.find(key);
    if (it == obj.end()) return fail(std::string("missing \"") + key + "\"");
    if (!it->is_string()) return fail(std::string("\"") + key + "\" is not hexadecimal text");
    auto v = scanHex(it->get_ref<const std::string&>());
    if (!v) return fail(std::string("\"") + key + "\" has no hexadecimal digits");
    out = static_cast<int32_t>(*v);
    return true;
  }

  bool point(const Json& entry, const char* array, PointF& out) {
    if (!entry.is_object())
      return fail(std::string("an entry of \"") + array + "\" is not an object");
    auto x = entry.find("x");
    auto y = entry.find("y");
    std::optional<double> xv, yv;
    if (x != entry.end()) xv = readDouble(*x);
    if (y != entry.end()) yv = readDouble(*y);
    if (!xv || !yv) return fail(std::string("an entry of \"") + array + "\" lacks numeric x and y");
    out = {*xv, *yv};
    return true;
  }
};

}  // namespace

bool parseModelDefinition(std::string_view json, const std::filesystem::path& folder,
                          ModelDefinition& out, std::string& reason) {
  Json root = Json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
  Parser p{reason};
  if (root.is_discarded()) return p.fail("model.json is not valid JSON");
  if (!root.is_object()) return p.fail("model.json is not a JSON object");

  ModelDefinition m;
  std::string image;
  if (!p.text(root, "model_name", m.name) || !p.text(root, "model_image", image)) return false;
  m.imagePath = (folder / image).string();

  auto define = root.find("model_define");
  if (define == root.end()) return p.fail("missing \"model_define\"");
  if (!define->is_object()) return p.fail("\"model_define\" is not an object");
  if (!p.integer(*define, "type", m.type) || !p.integer(*define, "model_id", m.modelId) ||
      !p.hex(*define, "usb_vid", m.usbVid) || !p.hex(*define, "usb_pid", m.usbPid) ||
      !p.hex(*define, "button", m.buttonMask)) {
    return false;
  }
  if (define->contains("swap45") && !p.integer(*define, "swap45", m.swap45)) return false;

  auto pos = root.find("button_pos");
  if (pos == root.end()) return p.fail("missing \"button_pos\"");
  if (!pos->is_array()) return p.fail("\"button_pos\" is not an array");
  if (pos->size() < kMinButtonPositions) {
    return p.fail("\"button_pos\" has " + std::to_string(pos->size()) + " entries, needs " +
                  std::to_string(kMinButtonPositions));
  }
  for (const auto& entry : *pos) {
    PointF pt;
    if (!p.point(entry, "button_pos", pt)) return false;
    m.buttonPos.push_back(pt);
  }

  auto hid = root.find("hid_num");
  if (hid != root.end()) {
    if (!hid->is_array()) return p.fail("\"hid_num\" is not an array");
    if (hid->size() > kMaxExtraButtons) {
      return p.fail("\"hid_num\" has " + std::to_string(hid->size()) + " entries, at most " +
                    std::to_string(kMaxExtraButtons) + " allowed");
    }
    for (const auto& entry : *hid) {
      ExtraButtonSpec extra;
      if (!p.point(entry, "hid_num", extra.pos)) return false;
      auto down = entry.find("down");
      auto up = entry.find("up");
      std::optional<double> dv, uv;
      if (down != entry.end()) dv = readDouble(*down);
      if (up != entry.end()) uv = readDouble(*up);
      if (!dv || !uv) return p.fail("an entry of \"hid_num\" lacks numeric down and up");
      extra.down = truncateToInt32(*dv);
      extra.up = truncateToInt32(*uv);
      m.hidNum.push_back(extra);
    }
  }

  out = std::move(m);
  return true;
}

namespace {

const std::pair<const char*, DeviceKind> kKindNames[] = {
    {"ignored", DeviceKind::Ignored},
    {"type1_mouse", DeviceKind::Type1Mouse},
    {"type1_input", DeviceKind::Type1Input},
    {"type2", DeviceKind::Type2},
    {"type6", DeviceKind::Type6},
    {"type7", DeviceKind::Type7},
    {"type10", DeviceKind::Type10},
    {"other_mouse", DeviceKind::OtherMouse},
};

bool parseRule(const Json& entry, DeviceClassRule& rule, Parser& p) {
  if (!entry.is_object()) return p.fail("an entry is not an object");
  std::string kind;
  if (!p.text(entry, "kind", kind)) return false;
  auto named = std::find_if(std::begin(kKindNames), std::end(kKindNames),
                            [&](const auto& k) { return kind == k.first; });
  if (named == std::end(kKindNames)) return p.fail("unknown kind \"" + kind + "\"");
  rule.kind = named->second;
  for (const auto& item : entry.items()) {
    // Named, not bound: the lambdas below use them.
    const std::string& key = item.key();
    const Json& value = item.value();
    int32_t number = 0;
    auto hexAt = [&]<typename T>(std::optional<T>& out) {
      if (!p.hex(entry, key.c_str(), number)) return false;
      out = static_cast<T>(number);
      return true;
    };
    auto sizeAt = [&](std::optional<DeviceClassRule::Size>& out, bool atLeast) {
      if (!value.is_number_integer()) return p.fail("\"" + key + "\" is not a whole number");
      out = DeviceClassRule::Size{value.get<int32_t>(), atLeast};
      return true;
    };
    bool ok = true;
    if (key == "kind") {
    } else if (key == "usb_vid") {
      ok = hexAt(rule.vendorId);
    } else if (key == "usage_page") {
      ok = hexAt(rule.usagePage);
    } else if (key == "usage") {
      ok = hexAt(rule.usage);
    } else if (key == "usb_pid") {
      if (!value.is_array() || value.empty()) return p.fail("\"usb_pid\" is not a list of ids");
      for (const auto& id : value) {
        auto v = id.is_string() ? scanHex(id.get_ref<const std::string&>()) : std::nullopt;
        if (!v) return p.fail("an entry of \"usb_pid\" is not hexadecimal text");
        rule.productIds.push_back(static_cast<int32_t>(*v));
      }
    } else if (key == "last_report_id") {
      if (!value.is_number_integer()) return p.fail("\"last_report_id\" is not a whole number");
      rule.lastReportId = value.get<int32_t>();
    } else if (key == "input_size" || key == "input_size_min") {
      ok = sizeAt(rule.input, key.ends_with("_min"));
    } else if (key == "output_size" || key == "output_size_min") {
      ok = sizeAt(rule.output, key.ends_with("_min"));
    } else if (key == "feature_size" || key == "feature_size_min") {
      ok = sizeAt(rule.feature, key.ends_with("_min"));
    } else {
      return p.fail("unknown key \"" + key + "\"");
    }
    if (!ok) return false;
  }
  return true;
}

bool meets(const DeviceClassRule::Size& size, int32_t bytes) {
  return size.atLeast ? bytes >= size.bytes : bytes == size.bytes;
}

// Reads a small text file whole; on failure the reason.
std::optional<std::string> readSmallFile(const std::filesystem::path& file, std::string& reason) {
  const std::string name = file.filename().string();
  std::error_code error;
  auto size = std::filesystem::file_size(file, error);
  if (error) {
    reason = name + ": " + error.message();
    return std::nullopt;
  }
  if (size > kMaxModelJsonBytes) {
    reason = name + " is too large";
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  std::string text(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
  if (!in && !in.eof()) {
    reason = name + " cannot be read";
    return std::nullopt;
  }
  return text;
}

}  // namespace

bool parseDeviceClasses(std::string_view json, DeviceClasses& out, std::string& reason) {
  Json root = Json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
  Parser p{reason};
  if (root.is_discarded()) return p.fail("not valid JSON");
  if (!root.is_object()) return p.fail("not a JSON object");
  auto list = root.find("device_classes");
  if (list == root.end()) return p.fail("missing \"device_classes\"");
  if (!list->is_array()) return p.fail("\"device_classes\" is not an array");
  DeviceClasses classes;
  for (const auto& entry : *list) {
    DeviceClassRule rule;
    if (!parseRule(entry, rule, p)) {
      reason = "entry " + std::to_string(classes.size() + 1) + ": " + reason;
      return false;
    }
    classes.push_back(std::move(rule));
  }
  out = std::move(classes);
  return true;
}

DeviceKind classifyDevice(const DeviceClasses& classes, const HidProperties& p) {
  for (const DeviceClassRule& r : classes) {
    if ((r.vendorId && *r.vendorId != p.vendorId) ||
        (!r.productIds.empty() &&
         std::find(r.productIds.begin(), r.productIds.end(), p.productId) == r.productIds.end()) ||
        (r.usagePage && *r.usagePage != p.primaryUsagePage) ||
        (r.usage && *r.usage != p.primaryUsage) ||
        (r.lastReportId && *r.lastReportId != p.lastReportId) ||
        (r.input && !meets(*r.input, p.maxInputReportSize)) ||
        (r.output && !meets(*r.output, p.maxOutputReportSize)) ||
        (r.feature && !meets(*r.feature, p.maxFeatureReportSize))) {
      continue;
    }
    return r.kind;
  }
  return DeviceKind::Ignored;
}

ModelCatalogue loadModelCatalogue(const std::filesystem::path& modelFolder) {
  ModelCatalogue catalogue;
  std::error_code ec;
  std::vector<std::filesystem::path> folders;
  for (std::filesystem::directory_iterator it(modelFolder, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code typeError;
    if (it->is_directory(typeError)) folders.push_back(it->path());
  }
  if (ec) {
    logFormat("model folder %s: %s", modelFolder.c_str(), ec.message().c_str());
    return catalogue;
  }
  std::sort(folders.begin(), folders.end());

  for (const auto& folder : folders) {
    std::string reason;
    auto text = readSmallFile(folder / "model.json", reason);
    ModelDefinition model;
    if (text && parseModelDefinition(*text, folder, model, reason)) {
      catalogue.insert_or_assign(model.name, std::move(model));
    } else {
      logFormat("skip model folder %s: %s", folder.c_str(), reason.c_str());
    }
  }

  const auto classesFile = modelFolder / kDeviceClassesFile;
  std::string reason;
  auto text = readSmallFile(classesFile, reason);
  if (!text || !parseDeviceClasses(*text, catalogue.classes, reason)) {
    logFormat("no supported mice: %s: %s", classesFile.c_str(), reason.c_str());
  }
  return catalogue;
}

const ModelDefinition* matchModel(const ModelCatalogue& catalogue, const DeviceIdentity& identity,
                                  ExtraButtonEnabled& extraButtonEnabled) {
  for (const auto& [name, model] : catalogue) {
    for (const auto& extra : model.hidNum) {
      for (size_t i = 0; i < ExtraButtonCodes.size(); ++i) {
        if (ExtraButtonCodes[i].press == extra.down && ExtraButtonCodes[i].release == extra.up) {
          extraButtonEnabled[i].store(true, std::memory_order_relaxed);
        }
      }
    }
    if (model.type == 0) continue;
    if (model.type != kTypeMatchesAnyModel) {
      if (identity.type != model.type) continue;
      if (identity.modelId != model.modelId && identity.modelId != kAnyModel) continue;
    }
    if (model.usbVid == identity.vendorId && model.usbPid == identity.productId) return &model;
  }
  return nullptr;
}

}  // namespace velt
