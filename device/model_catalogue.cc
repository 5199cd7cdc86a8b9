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

// model.json files are a few hundred bytes.
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
    auto file = folder / "model.json";
    std::string reason;
    std::error_code sizeError;
    auto size = std::filesystem::file_size(file, sizeError);
    std::string text;
    if (sizeError) {
      reason = "model.json: " + sizeError.message();
    } else if (size > kMaxModelJsonBytes) {
      reason = "model.json is too large";
    } else {
      std::ifstream in(file, std::ios::binary);
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (!in && !in.eof()) reason = "model.json cannot be read";
    }
    ModelDefinition model;
    if (reason.empty() && parseModelDefinition(text, folder, model, reason)) {
      catalogue.insert_or_assign(model.name, std::move(model));
    } else {
      logFormat("skip model folder %s: %s", folder.c_str(), reason.c_str());
    }
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
