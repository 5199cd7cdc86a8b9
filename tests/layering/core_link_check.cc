// Links the core libraries into a program of their own; the layering check
// then verifies that nothing of Qt came along.
#include "actions/key_codes.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "device/model_catalogue.h"

int main(int argc, char** argv) {
  velt::Settings settings;
  velt::SettingsStore store(settings, argc > 1 ? argv[1] : "/nonexistent", "/nonexistent");
  auto catalogue = velt::loadModelCatalogue("/nonexistent");
  return static_cast<int>(catalogue.size() + velt::virtualKeyboardKeys().size());
}
