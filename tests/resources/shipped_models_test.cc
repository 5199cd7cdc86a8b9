// Every model the agent ships must load, be complete, claim an identity of its
// own and come with its picture.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

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

}  // namespace
}  // namespace velt
