// language.json of any content, in each of the three languages: read without
// a fault, whatever the file holds; the texts come from it or are built in.
#include "tests/fuzz/fuzz_support.h"
#include "ui/interface_texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velt::fuzz::QuietLog quiet;
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  for (int32_t language : {1033, 1041, 1028}) {
    const velt::UiStrings strings = velt::parseUiStrings(json, language, "language.json");
    velt::uninstallQuestion(strings);
    velt::buildFunctionNames(language);
  }
  return 0;
}
