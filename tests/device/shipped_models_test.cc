#include <gtest/gtest.h>

#include <set>

#include "device/model_catalogue.h"
#include "tests/support/test_support.h"
#include "tools/virtual_mouse/virtual_mice.h"

namespace velt {
namespace {

// Every shipped model has a virtual mouse that identifies as it, so the tests
// and the simulator cover every model the agent supports.
TEST(ShippedModelsTest, EveryModelHasAVirtualMouse) {
  testing::CaptureLog log;
  const ModelCatalogue catalogue = loadModelCatalogue(testing::sourceResources() / "model");
  ASSERT_EQ(log.lines(), std::vector<std::string>{});
  ASSERT_FALSE(catalogue.empty());

  for (const auto& [name, model] : catalogue) {
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
