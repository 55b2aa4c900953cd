// Fuzz target: arbitrary bytes as a UI recipe template's property list, read through the
// binary template reader, then the whole element tree built from what was read
// (CreateFromRecipeObject) and released. The renderer does not run, so the element ops
// run inline. Seeds are lists written by tests/support/recipes.py.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/BoundedReader.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "ui/elements/UIElement.h"
#include "ui/recipes/UIRecipeClasses.h"
#include "ui/recipes/UIRecipeTemplate.h"
#include "ui/widgets/UIWidgetRecipes.h"

namespace {

void AddWritten(void (*add)(const uint8_t*, size_t), const std::string& json) {
    const std::string out = "/tmp/ui_recipe_fuzz_seed.bin";
    const std::string cmd =
        "python3 " PROJECT_SOURCE_ROOT "/tests/support/recipes.py templatelist " + out + " '" + json + "'";
    if (std::system(cmd.c_str()) != 0) return;
    std::ifstream in(out, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    add(bytes.data(), bytes.size());
    std::remove(out.c_str());
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    AddWritten(add, R"({"recipe": null})");
    AddWritten(add, R"({"recipe": {"Name": "Menu", "Presets": [{"Id": "In", "Hidden": true}], "Children": [
      {"class": "UIPictureRecipe", "Name": "Back", "Shader": "", "Anchor by": 0},
      {"class": "UIRoundedRectRecipe", "Children": [{"class": "UIElementRecipe", "Disabled": 2}]},
      {"class": "UITemplateViewRecipe", "Start immediately": false},
      {"class": "UIClipboardRecipe", "Children": [{"Name": "Skipped"}]},
      {"class": "UIButtonRecipe", "Shader": "", "Children": [{"class": "UITextRecipe", "Text": "Go"}]},
      {"class": "UIListRecipe"}, {"class": "UIRoundListRecipe"}, {"class": "UITabbedContainerRecipe"},
      {"class": "UIUniTextInputRecipe"}, {"class": "UIScreenRecipe", "Hidden": true}]}})");
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // GUID, type 10 and the list's size, then the list.
    std::vector<uint8_t> file(24, 0);
    file[16] = 10;
    const uint32_t n = uint32_t(size);
    std::memcpy(file.data() + 20, &n, 4);
    file.insert(file.end(), data, data + size);
    UIRecipeTemplate t;
    BoundedReader in(file.data(), file.size());
    ReadBinaryTemplate(in, &t);
    if (UIElement* root = UIElement::CreateFromRecipeObject(t.GetRecipe(), &t, nullptr, 1)) root->Release();
    return 0;
}
