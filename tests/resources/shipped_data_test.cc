// The data the agent ships: every model must load, be complete, claim an
// identity of its own and come with its picture; the default settings file
// holds every key.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

#include "core/plist_file.h"
#include "core/settings_store.h"
#include "device/model_catalogue.h"
#include "tests/support/test_support.h"

namespace velt {
namespace {

std::filesystem::path modelFolder() {
  return testing::sourceResources() / "model";
}

std::vector<std::filesystem::path> shippedFolders() {
  std::vector<std::filesystem::path> folders;
  for (const auto& e : std::filesystem::directory_iterator(modelFolder())) {
    if (e.is_directory()) folders.push_back(e.path());
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

TEST(ShippedModels, EveryFolderIsAValidModel) {
  auto folders = shippedFolders();
  ASSERT_FALSE(folders.empty());
  const std::set<std::string> knownTop = {"model_name", "model_image", "model_define", "button_pos",
                                          "hid_num"};
  const std::set<std::string> knownDefine = {"type",    "model_id", "usb_vid",
                                             "usb_pid", "button",   "swap45"};
  for (const auto& folder : folders) {
    SCOPED_TRACE(folder.string());
    std::ifstream in(folder / "model.json");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ModelDefinition m;
    std::string reason;
    ASSERT_TRUE(parseModelDefinition(text, folder, m, reason)) << reason;

    // Only keys the agent knows, with the types it expects.
    auto json = nlohmann::json::parse(text);
    for (const auto& [key, value] : json.items()) EXPECT_TRUE(knownTop.count(key)) << key;
    for (const auto& [key, value] : json["model_define"].items()) {
      EXPECT_TRUE(knownDefine.count(key)) << key;
    }
    for (auto key : {"usb_vid", "usb_pid", "button"}) {
      const auto& v = json["model_define"][key];
      ASSERT_TRUE(v.is_string()) << key;
      const std::string& digits = v.get_ref<const std::string&>();
      EXPECT_TRUE(!digits.empty() &&
                  std::all_of(digits.begin(), digits.end(),
                              [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
          << key << " should be plain hexadecimal digits";
    }

    EXPECT_TRUE(std::set<int>({1, 2, 6, 7, 10}).count(m.type)) << "type " << m.type;
    EXPECT_NE(m.usbVid, 0);
    EXPECT_NE(m.usbPid, 0);
    EXPECT_EQ(m.buttonMask & ~0x1E, 0) << "only buttons 1 to 4 can be taken over";
    EXPECT_EQ(m.buttonPos.size(), kMinButtonPositions);
    for (const auto& p : m.buttonPos) {
      EXPECT_TRUE(p.x >= 0 && p.x <= 1000 && p.y >= 0 && p.y <= 1000);
    }
    for (const auto& extra : m.hidNum) {
      bool known = std::any_of(ExtraButtonCodes.begin(), ExtraButtonCodes.end(), [&](auto c) {
        return c.press == extra.down && c.release == extra.up;
      });
      EXPECT_TRUE(known) << "extra button (" << extra.down << ", " << extra.up << ")";
      EXPECT_TRUE(extra.pos.x >= 0 && extra.pos.x <= 1000 && extra.pos.y >= 0 &&
                  extra.pos.y <= 1000);
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(m.imagePath)) << m.imagePath;
    EXPECT_GT(std::filesystem::file_size(m.imagePath), 0u);
  }
}

HidProperties props(int32_t vid, int32_t pid, int32_t page, int32_t usage, int32_t in, int32_t out,
                    int32_t feature, int32_t lastId = 0) {
  HidProperties p;
  p.vendorId = vid;
  p.productId = pid;
  p.primaryUsagePage = page;
  p.primaryUsage = usage;
  p.maxInputReportSize = in;
  p.maxOutputReportSize = out;
  p.maxFeatureReportSize = feature;
  p.lastReportId = lastId;
  return p;
}

// The shipped rules tell the supported mice's interfaces apart in this order.
TEST(ShippedModels, DeviceClassesInOrder) {
  const DeviceClasses classes = loadModelCatalogue(modelFolder()).classes;
  using K = DeviceKind;
  struct Case {
    HidProperties p;
    K kind;
  };
  const Case cases[] = {
      // 1 and 5: the mouse interfaces of the 062A mice are left alone, even
      // though they are mice.
      {props(0x062A, 0x410C, 1, 2, 4, 0, 8), K::Ignored},
      {props(0x062A, 0x410E, 1, 2, 4, 0, 8), K::Ignored},
      // 2: type-1 mouse interfaces, only for the two id pairs.
      {props(0x0C45, 0x7E20, 1, 2, 4, 0, 8), K::Type1Mouse},
      {props(0x3A5D, 0x2410, 1, 2, 4, 0, 8), K::Type1Mouse},
      {props(0x0C45, 0x2410, 1, 2, 4, 0, 8), K::OtherMouse},
      // 3 and 6: the vendor interfaces of the 062A mice.
      {props(0x062A, 0x410C, 0xFF12, 1, 8, 8, 0), K::Type7},
      {props(0x062A, 0x410E, 0xFF12, 1, 8, 8, 0), K::Type7},
      {props(0x062A, 0x410E, 0xFF12, 1, 8, 9, 0), K::Ignored},
      // 4: the type-1 vendor interface needs 8 bytes of input.
      {props(0x3A5D, 0x2410, 0xFF29, 1, 9, 0, 0), K::Type1Input},
      {props(0x0C45, 0x7E20, 0xFF29, 1, 7, 0, 0), K::Ignored},
      // 7: type 6 looks at the usage only, not its page.
      {props(0x0C45, 0x7E0E, 0xFF00, 2, 35, 31, 35), K::Type6},
      {props(0x0C45, 0x7E0E, 1, 2, 35, 30, 35), K::OtherMouse},
      // 8: type 10 needs a feature report of exactly 32 bytes.
      {props(0x0C45, 0x7E2B, 0xFF00, 1, 8, 0, 32), K::Type10},
      {props(0x0C45, 0x7E2B, 1, 2, 8, 0, 33), K::OtherMouse},
      // 9: type 2, with the last report id its product id calls for.
      {props(0x0C45, 0x7E1A, 1, 2, 8, 0, 21, 7), K::Type2},
      {props(0x0C45, 0x7E1A, 1, 2, 8, 0, 21, 8), K::OtherMouse},
      {props(0x0C45, 0x7E1C, 1, 2, 8, 0, 40, 8), K::Type2},
      {props(0x0C45, 0x7E29, 1, 2, 8, 0, 20, 8), K::OtherMouse},
      // 10 and 11: any other mouse, and everything else.
      {props(0x1209, 0x0001, 1, 2, 4, 0, 0), K::OtherMouse},
      {props(0x0C45, 0x7E20, 1, 6, 8, 1, 0), K::Ignored},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(classifyDevice(classes, c.p), c.kind)
        << std::hex << c.p.vendorId << ":" << c.p.productId << " page " << c.p.primaryUsagePage;
  }
}

// Every model's ids fall under a rule of its type.
TEST(ShippedModels, EveryModelIsClassified) {
  const ModelCatalogue catalogue = loadModelCatalogue(modelFolder());
  const std::map<int, std::set<DeviceKind>> kinds = {
      {1, {DeviceKind::Type1Mouse, DeviceKind::Type1Input}},
      {2, {DeviceKind::Type2}},
      {6, {DeviceKind::Type6}},
      {7, {DeviceKind::Type7}},
      {10, {DeviceKind::Type10}}};
  for (const auto& [name, m] : catalogue) {
    const bool classified = std::any_of(
        catalogue.classes.begin(), catalogue.classes.end(), [&](const DeviceClassRule& r) {
          return r.vendorId == m.usbVid &&
                 std::count(r.productIds.begin(), r.productIds.end(), m.usbPid) &&
                 kinds.at(m.type).count(r.kind);
        });
    EXPECT_TRUE(classified) << name << ": no device class of type " << m.type << " has its ids";
  }
}

TEST(ShippedModels, NamesAndIdentitiesAreUnique) {
  auto catalogue = loadModelCatalogue(modelFolder());
  EXPECT_EQ(catalogue.size(), shippedFolders().size()) << "two folders share a model name";
  std::set<std::tuple<int, int, int, int>> identities;
  std::set<int> types;
  for (const auto& [name, m] : catalogue) {
    EXPECT_TRUE(identities.insert({m.type, m.modelId, m.usbVid, m.usbPid}).second)
        << name << " claims the identity of another model";
    types.insert(m.type);
  }
  for (int type : {1, 2, 6, 7, 10}) EXPECT_TRUE(types.count(type)) << "no model of type " << type;
  EXPECT_FALSE(types.count(kTypeMatchesAnyModel)) << "a type-254 model would claim ordinary mice";
  EXPECT_TRUE(catalogue.count("QR-350"));
  EXPECT_TRUE(catalogue.count("QR-450"));
}

TEST(ShippedSettings, DefaultButtonPlistHoldsTheKeysWithDefaults) {
  auto read = PlistDictionary::read(testing::sourceResources() / "button.plist");
  ASSERT_EQ(read.status, PlistDictionary::Status::Ok) << read.reason;
  EXPECT_EQ(read.dictionary.size(), kSettingsKeys.size());
  for (auto key : kSettingsKeys) {
    EXPECT_TRUE(read.dictionary.has(key)) << key;
    EXPECT_EQ(read.dictionary.intValue(key), key == "spotlightDim" ? 310 : 0) << key;
  }
}

}  // namespace
}  // namespace velt
