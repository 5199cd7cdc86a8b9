#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include "device/model_catalogue.h"
#include "tests/support/test_support.h"
#include "tools/virtual_mouse/virtual_mice.h"

namespace velt {
namespace {

// Every shipped model is reachable: its mouse can open its hidraw nodes, and
// a virtual mouse of it exists for the tests.
TEST(ShippedModelsTest, EveryModelHasAccessRuleAndVirtualMouse) {
  testing::CaptureLog log;
  const ModelCatalogue catalogue = loadModelCatalogue(testing::sourceResources() / "model");
  ASSERT_EQ(log.lines(), std::vector<std::string>{});
  ASSERT_FALSE(catalogue.empty());

  std::ifstream rules(testing::sourceResources() / "udev/70-velt-mouse-assistant.rules");
  std::set<std::pair<int, int>> allowed;
  const std::regex rule(
      R"re(ATTRS\{idVendor\}=="([0-9a-f]{4})", ATTRS\{idProduct\}=="([0-9a-f]{4})")re");
  for (std::string line; std::getline(rules, line);) {
    std::smatch m;
    if (std::regex_search(line, m, rule)) {
      allowed.insert({std::stoi(m[1], nullptr, 16), std::stoi(m[2], nullptr, 16)});
    }
  }

  for (const auto& [name, model] : catalogue) {
    EXPECT_TRUE(allowed.count({model.usbVid, model.usbPid})) << name << " has no udev rule";
    bool simulated = false;
    for (const VirtualMouse& m : virtualMice()) {
      simulated |= m.model == name && m.type == model.type && m.modelNumber == model.modelId &&
                   m.vendorId == model.usbVid && m.productId == model.usbPid;
    }
    EXPECT_TRUE(simulated) << name << " has no matching virtual mouse";
  }
}

}  // namespace
}  // namespace velt
