#include "device/model_catalogue.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace velt {
namespace {

using testing::CaptureLog;
using testing::TempDir;
using testing::writeFile;

std::string modelJson(const std::string& name, int type, int modelId, const std::string& vid,
                      const std::string& pid, const std::string& hidNum = "[]",
                      const std::string& extraDefine = "") {
  return R"({"model_name": ")" + name + R"(", "model_image": "pic.png",
    "model_define": {"type": )" +
         std::to_string(type) + R"(, "model_id": )" + std::to_string(modelId) +
         R"(, "usb_vid": ")" + vid + R"(", "usb_pid": ")" + pid + R"(", "button": "1C")" +
         extraDefine + R"(},
    "button_pos": [{"x": 1, "y": 2}, {"x": 3, "y": 4}, {"x": 5, "y": 6}, {"x": 7, "y": 8},
                   {"x": 9.5, "y": 10}],
    "hid_num": )" +
         hidNum + "}";
}

// A "hid_num" list of extra buttons with these (down, up) codes.
std::string hidNum(std::initializer_list<std::pair<int, int>> codes) {
  std::string out = "[";
  for (auto [down, up] : codes) {
    out += (out.size() > 1 ? ", " : "") + std::string(R"({"down": )") + std::to_string(down) +
           R"(, "up": )" + std::to_string(up) + R"(, "x": 0, "y": 0})";
  }
  return out + "]";
}

class ModelCatalogueTest : public ::testing::Test {
 protected:
  TempDir dir;
  CaptureLog log;
  ExtraButtonEnabled enabled{};

  void addModel(const std::string& folder, const std::string& json) {
    writeFile(dir / folder / "model.json", json);
  }
  ModelCatalogue load() { return loadModelCatalogue(dir.path()); }
  static DeviceIdentity identity(int type, int modelId, int vid, int pid) {
    return {7, type, modelId, vid, pid, false};
  }
  std::array<bool, 3> flags() const {
    return {enabled[0].load(), enabled[1].load(), enabled[2].load()};
  }
};

TEST_F(ModelCatalogueTest, ParsesEveryField) {
  addModel("m", modelJson("QR-1", 2, 5, "0x0C45", " 7e1c",
                          R"([{"down": "254.9", "up": 253, "x": " 11", "y": 12}])",
                          R"(, "swap45": "1")"));
  auto catalogue = load();
  ASSERT_EQ(catalogue.size(), 1u);
  const ModelDefinition& m = catalogue.at("QR-1");
  EXPECT_EQ(m.imagePath, (dir / "m/pic.png").string());
  EXPECT_EQ(m.type, 2);
  EXPECT_EQ(m.modelId, 5);
  EXPECT_EQ(m.usbVid, 0x0C45);
  EXPECT_EQ(m.usbPid, 0x7E1C);
  EXPECT_EQ(m.buttonMask, 0x1C);
  EXPECT_EQ(m.swap45, 1);
  ASSERT_EQ(m.buttonPos.size(), 5u);
  EXPECT_DOUBLE_EQ(m.buttonPos[4].x, 9.5);
  ASSERT_EQ(m.hidNum.size(), 1u);
  EXPECT_EQ(m.hidNum[0].down, 254);  // truncated toward zero
  EXPECT_EQ(m.hidNum[0].up, 253);
  EXPECT_DOUBLE_EQ(m.hidNum[0].pos.x, 11);
  EXPECT_DOUBLE_EQ(m.hidNum[0].pos.y, 12);
}

TEST_F(ModelCatalogueTest, MalformedFoldersAreSkippedWithOneLineEach) {
  addModel("a-good", modelJson("Good", 1, 1, "0C45", "7E20"));
  writeFile(dir / "b-nojson/readme.txt", "no model here");
  addModel("c-broken", "{\"model_name\": ");
  addModel("d-nodefine", R"({"model_name": "X", "model_image": "p.png", "button_pos": []})");
  addModel("e-nohex", modelJson("NoHex", 1, 1, "zz", "7E20"));
  addModel("f-fewpos", R"({"model_name": "Few", "model_image": "p.png",
      "model_define": {"type": 1, "model_id": 1, "usb_vid": "1", "usb_pid": "2", "button": "1C"},
      "button_pos": [{"x": 1, "y": 2}]})");
  addModel("g-manyhid",
           modelJson("Many", 1, 1, "1", "2", hidNum({{1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}})));
  addModel("h-array", "[1, 2, 3]");
  addModel("i-typeobj", modelJson("Obj", 1, 1, "1", "2", "[]", R"(, "swap45": {})"));
  writeFile(dir / "not-a-folder.json", "{}");

  auto catalogue = load();
  ASSERT_EQ(catalogue.size(), 1u);
  EXPECT_TRUE(catalogue.count("Good"));
  for (auto folder : {"b-nojson", "c-broken", "d-nodefine", "e-nohex", "f-fewpos", "g-manyhid",
                      "h-array", "i-typeobj"}) {
    EXPECT_EQ(log.count(std::string("skip model folder ") + (dir / folder).string() + ": "), 1u)
        << folder;
  }
  EXPECT_EQ(log.count("not-a-folder"), 0u);

  // No folder at all: an empty catalogue and one line.
  EXPECT_TRUE(loadModelCatalogue(dir / "absent").empty());
  EXPECT_EQ(log.count((dir / "absent").string()), 1u);
}

TEST_F(ModelCatalogueTest, DeviceClassesAreAllOrNothing) {
  const auto file = dir / kDeviceClassesFile;
  writeFile(file, R"({"device_classes": [
      {"kind": "type2", "usb_vid": "0C45", "usb_pid": ["7E1A", "7e1c"], "usage": "2",
       "feature_size_min": 21, "last_report_id": 8},
      {"kind": "other_mouse", "usage_page": "1", "usage": "2", "output_size": 0}]})");
  auto classes = load().classes;
  ASSERT_EQ(classes.size(), 2u);
  HidProperties p;
  p.vendorId = 0x0C45;
  p.productId = 0x7E1C;
  p.primaryUsagePage = 1;
  p.primaryUsage = 2;
  p.maxFeatureReportSize = 21;
  p.lastReportId = 8;
  EXPECT_EQ(classifyDevice(classes, p), DeviceKind::Type2);
  p.maxFeatureReportSize = 20;
  EXPECT_EQ(classifyDevice(classes, p), DeviceKind::OtherMouse);
  p.maxOutputReportSize = 1;
  EXPECT_EQ(classifyDevice(classes, p), DeviceKind::Ignored);
  EXPECT_EQ(log.count("device_classes"), 0u);

  // A bad entry refuses the whole file, with one line that names the file
  // and the reason; the models still load.
  addModel("a", modelJson("A", 1, 1, "0C45", "7E20"));
  const std::pair<const char*, const char*> bad[] = {
      {R"([])", "not a JSON object"},
      {R"({"device_classes": {}})", "\"device_classes\" is not an array"},
      {R"({"device_classes": [{"usage": "2"}]})", "entry 1: missing \"kind\""},
      {R"({"device_classes": [{"kind": "ignored"}, {"kind": "type3"}]})",
       "entry 2: unknown kind \"type3\""},
      {R"({"device_classes": [{"kind": "type6", "usb_pid": "7E0E"}]})",
       "entry 1: \"usb_pid\" is not a list of ids"},
      {R"({"device_classes": [{"kind": "type6", "usb_vid": "zz"}]})",
       "entry 1: \"usb_vid\" has no hexadecimal digits"},
      {R"({"device_classes": [{"kind": "type6", "output_size_min": "31"}]})",
       "entry 1: \"output_size_min\" is not a whole number"},
      {R"({"device_classes": [{"kind": "type6", "usage_pgae": "1"}]})",
       "entry 1: unknown key \"usage_pgae\""},
  };
  for (const auto& [text, reason] : bad) {
    writeFile(file, text);
    auto catalogue = load();
    EXPECT_TRUE(catalogue.classes.empty()) << text;
    EXPECT_EQ(catalogue.size(), 1u);
    EXPECT_EQ(log.count("no supported mice: " + file.string() + ": " + reason), 1u) << text;
  }
  std::filesystem::remove(file);
  EXPECT_TRUE(load().classes.empty());
  EXPECT_EQ(log.count(file.string() + ": device_classes.json: No such file"), 1u);
}

TEST_F(ModelCatalogueTest, ALaterFolderWithTheSameNameWins) {
  addModel("1", modelJson("Same", 1, 1, "0C45", "7E20"));
  addModel("2", modelJson("Same", 2, 9, "0C45", "7E1A"));
  auto catalogue = load();
  ASSERT_EQ(catalogue.size(), 1u);
  EXPECT_EQ(catalogue.at("Same").type, 2);
  EXPECT_EQ(catalogue.at("Same").imagePath, (dir / "2/pic.png").string());
}

TEST_F(ModelCatalogueTest, MatchingRules) {
  addModel("a", modelJson("A-type1", 1, 1, "0C45", "7E20"));
  addModel("b", modelJson("B-type0", 0, 1, "0C45", "7E2B"));
  addModel("c", modelJson("C-any", 254, 77, "046D", "C077"));
  auto catalogue = load();
  auto name = [&](DeviceIdentity id) {
    const ModelDefinition* m = matchModel(catalogue, id, enabled);
    return m ? m->name : std::string("none");
  };
  EXPECT_EQ(name(identity(1, 1, 0x0C45, 0x7E20)), "A-type1");
  EXPECT_EQ(name(identity(1, 2, 0x0C45, 0x7E20)), "none");             // other model number
  EXPECT_EQ(name(identity(1, kAnyModel, 0x0C45, 0x7E20)), "A-type1");  // input-only interface
  EXPECT_EQ(name(identity(2, 1, 0x0C45, 0x7E20)), "none");             // other type
  EXPECT_EQ(name(identity(1, 1, 0x0C45, 0x7E21)), "none");             // other product
  EXPECT_EQ(name(identity(0, 1, 0x0C45, 0x7E2B)), "none");             // type 0 never matches
  // Type 254 matches on vendor and product alone.
  EXPECT_EQ(name(identity(254, 0, 0x046D, 0xC077)), "C-any");
  EXPECT_EQ(name(identity(6, 3, 0x046D, 0xC077)), "C-any");
  EXPECT_EQ(name(identity(254, 0, 0x046D, 0xC078)), "none");
}

TEST_F(ModelCatalogueTest, ExtraButtonsAreEnabledByModelsExaminedUpToTheMatch) {
  // Catalogue order is by model name: "A" is examined before "M", "Z" after.
  addModel("1", modelJson("A-before", 6, 3, "0C45", "7E0E", hidNum({{250, 250}})));
  addModel("2", modelJson("M-match", 1, 1, "0C45", "7E20", hidNum({{254, 253}})));
  addModel("3", modelJson("Z-after", 2, 2, "0C45", "7E1C", hidNum({{252, 252}})));
  auto catalogue = load();
  ASSERT_NE(matchModel(catalogue, identity(1, 1, 0x0C45, 0x7E20), enabled), nullptr);
  EXPECT_EQ(flags(), (std::array<bool, 3>{true, true, false}));
  // A device that matches nothing still enables what every model declares.
  EXPECT_EQ(matchModel(catalogue, identity(9, 9, 1, 1), enabled), nullptr);
  EXPECT_EQ(flags(), (std::array<bool, 3>{true, true, true}));

  // Only exact code pairs count; "0" comes before every other name.
  ExtraButtonEnabled none{};
  addModel("4", modelJson("0-mixed", 1, 1, "0C45", "7E21",
                          hidNum({{254, 254}, {250, 251}, {253, 254}})));
  catalogue = load();
  matchModel(catalogue, identity(1, 1, 0x0C45, 0x7E21), none);
  EXPECT_FALSE(none[0] || none[1] || none[2]);
}

}  // namespace
}  // namespace velt
