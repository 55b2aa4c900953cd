// Start-up table of the UI library.
#include "ui/UIStaticInit.h"

#include "engine/entity/Entity.h"
#include "ui/elements/UIIdTable.h"
#include "ui/localisation/CompiledGameStringCollection.h"
#include "ui/localisation/StringManager.h"
#include "ui/localisation/StringReplacementContainer.h"
#include "ui/recipes/UIElementPreset.h"
#include "ui/recipes/UIRecipeClasses.h"
#include "ui/recipes/UIRecipeTemplate.h"
#include "ui/text/UIFontTable.h"
#include "ui/video/VideoEngine.h"
#include "ui/widgets/UIWidgetRecipes.h"

void ResetUIPendingDeletion();  // ui/elements/UIElement_Deletion.cpp
void InstallUIScreenServices();  // ui/elements/UIScreenServices.cpp
void ClearUIScreenServices();

namespace {

void PendingDeletionRow() {
    ResetUIPendingDeletion();
    PushExitHandler([](void*) { ResetUIPendingDeletion(); }, nullptr);
}

void UIScreenServicesRow() {
    InstallUIScreenServices();
    PushExitHandler([](void*) { ClearUIScreenServices(); }, nullptr);
}

void InstallUIServicesRow() {
    InstallUIServices();
    PushExitHandler([](void*) { ClearUIServices(); }, nullptr);
}

using K = StaticInitKind;
const StaticInitRow kUIRows[] = {
    {4, K::GlobalObject, "UIIdTable", &StaticInitCreateGlobal<UIIdTable, gUIIdTable>, 0, 0},
    {4, K::BareClassRegistration, "UIElement", nullptr, 0, 0},
    {4, K::BareClassRegistration, "UIVideo", nullptr, 0, 0},
    // Text elements.
    {4, K::BareClassRegistration, "UITextBase", nullptr, 0, 0},
    {4, K::BareClassRegistration, "UIText", nullptr, 0, 0},
    {4, K::BareClassRegistration, "UITextBox", nullptr, 0, 0},
    // Widgets and the console screen.
    {4, K::BareClassRegistration, "UiButton", nullptr, 0, 0},
    {4, K::BareClassRegistration, "UIRadioButtonContainer", nullptr, 0, 0},
    {4, K::BareClassRegistration, "UITabbedContainer", nullptr, 0, 0},
    {4, K::BareClassRegistration, "UIList", nullptr, 0, 0},
    {4, K::BareClassRegistration, "UIRoundList", nullptr, 0, 0},
    {4, K::BareClassRegistration, "UIUniTextInput", nullptr, 0, 0},
    {4, K::BareClassRegistration, "UITextInput", nullptr, 0, 0},
    {4, K::BareClassRegistration, "UIGameConsoleScreen", nullptr, 0, 0},
    {4, K::GlobalObject, "VideoEngine", &StaticInitCreateGlobal<VideoEngine, gVideoEngine>, 0, 0},
    {4, K::GlobalObject, "UI pending-deletion list", &PendingDeletionRow, 0, 0},
    {4, K::Constants, "UI seams (ui)", &InstallUIServicesRow, 0, 0},
    {4, K::GlobalObject, "UI quad batches, clip stack and screen services", &UIScreenServicesRow, 0, 0},
    // Localised strings and string replacement.
    {6, K::ClassRegistration, "GameString", &StaticInitRegister<GameString>, 0, 0},
    {6, K::ClassRegistration, "GameStringGroup", &StaticInitRegister<GameStringGroup>, 0, 0},
    {6, K::ClassRegistration, "CompiledGameStringCollectionEntry",
     &StaticInitRegister<CompiledGameStringCollectionEntry>, 0, 0},
    {6, K::ClassRegistration, "CompiledGameStringCollection", &StaticInitRegister<CompiledGameStringCollection>, 0,
     0},
    {6, K::ClassRegistration, "StringManager", &StaticInitRegister<StringManager>, 0, 0},
    {6, K::GlobalObject, "gDefaultReplacementContainer",
     &StaticInitCreateGlobal<StringReplacementContainer, gDefaultReplacementContainer>, 0, 0},
    // Fonts
    {6, K::ClassRegistration, "UIFontDefinition", &StaticInitRegister<UIFontDefinition>, 0, 0},
    {6, K::ClassRegistration, "UIFontTable", &StaticInitRegister<UIFontTable>, 0, 0},
    {6, K::GlobalObject, "gUIFontTable", &StaticInitCreateGlobal<UIFontTable, gUIFontTable>, 0, 0},
    // recipes
    {8, K::ClassRegistration, "UIElementPreset", &StaticInitRegister<UIElementPreset>, 0, 0},
    {8, K::ClassRegistration, "UIElementRecipe", &StaticInitRegister<UIElementRecipe>, 0, 0},
    {8, K::ClassRegistration, "UIPictureRecipe", &StaticInitRegister<UIPictureRecipe>, 0, 0},
    {8, K::ClassRegistration, "UIButtonRecipe", &StaticInitRegister<UIButtonRecipe>, 0, 0},
    {8, K::ClassRegistration, "UIRadioButtonContainerRecipe", &StaticInitRegister<UIRadioButtonContainerRecipe>, 0, 0},
    {8, K::ClassRegistration, "UITabbedContainerRecipe", &StaticInitRegister<UITabbedContainerRecipe>, 0, 0},
    {8, K::ClassRegistration, "UIListRecipe", &StaticInitRegister<UIListRecipe>, 0, 0},
    {8, K::ClassRegistration, "UIRoundListRecipe", &StaticInitRegister<UIRoundListRecipe>, 0, 0},
    {8, K::ClassRegistration, "UITextRecipe", &StaticInitRegister<UITextRecipe>, 0, 0},
    {8, K::ClassRegistration, "UIUniTextInputRecipe", &StaticInitRegister<UIUniTextInputRecipe>, 0, 0},
    {8, K::ClassRegistration, "UIRoundedRectRecipe", &StaticInitRegister<UIRoundedRectRecipe>, 0, 0},
    {8, K::ClassRegistration, "UITemplateViewRecipe", &StaticInitRegister<UITemplateViewRecipe>, 0, 0},
    {8, K::ClassRegistration, "UIScreenRecipe", &StaticInitRegister<UIScreenRecipe>, 0, 0},
    {8, K::ClassRegistration, "UIClipboardRecipe", &StaticInitRegister<UIClipboardRecipe>, 0, 0},
    {8, K::ClassRegistration, "UIRecipeTemplate", &StaticInitRegister<UIRecipeTemplate>, 0, 0},
    {8, K::TemplateTypeRow, "UIRecipeTemplate", nullptr, ENTITY_UIRECIPE, 0},
    {8, K::ClassRegistration, "UIRecipeEntity", &StaticInitRegister<UIRecipeEntity>, 0, 0},
};

}  // namespace

const StaticInitTable kUIStaticInit = {kUIRows, sizeof(kUIRows) / sizeof(kUIRows[0])};
