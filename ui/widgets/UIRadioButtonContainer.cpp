// Radio-button and tabbed containers: collecting, selecting, the notification and the tab
// buttons' layout.
#include "ui/widgets/UIRadioButtonContainer.h"

#include <cmath>

#include "core/rtti/RTTIClass.h"
#include "ui/widgets/UIButton.h"

namespace {

constexpr float kDeselectSeconds = 0.05f;
constexpr float kSelectSeconds = 0.3f;
constexpr float kTabPresetSeconds = 0.1f;

const NameString& TabName() {
    static const NameString name("Tab");
    return name;
}
const NameString& TabButtonName() {
    static const NameString name("TabButton");
    return name;
}

// The element's recipe "Size" and "Position" (the recipe defaults without a recipe).
Vector RecipeSize(const UIElement* e) {
    Vector v(64, 64, 0, 0);
    e->LoadRecipeVectorProperty(v, "Size", nullptr);
    return v;
}
Vector RecipePosition(const UIElement* e) {
    Vector v(0, 0, 0, 1);
    e->LoadRecipeVectorProperty(v, "Position", nullptr);
    return v;
}

}  // namespace

// ---- Radio buttons ----

UIRadioButtonContainer::UIRadioButtonContainer() = default;

int32_t UIRadioButtonContainer::IndexOf(int32_t id) const {
    const int64_t i = int64_t(id) - int64_t(baseId);
    return i >= 0 && i < int64_t(buttons.Count()) ? int32_t(i) : -1;
}

void UIRadioButtonContainer::AddButton(UIButton* button, int32_t id) {
    button->SetCommand(new NotifyCommand(this, uint32_t(id)));
    button->HideMark();
    buttons.Add(SafePointer<UIButton>(button));
}

void UIRadioButtonContainer::OnBeforeDelete() {
    buttons.Release();
    listener = nullptr;
    UIElement::OnBeforeDelete();
}

uint32_t UIRadioButtonContainer::CollectButtons(int32_t base) {
    baseId = base;
    uint32_t n = 0;
    for (UIElement* c = GetFirstChild(); c; c = c->GetNextSibling()) {
        if (!c->IsUiButton()) continue;
        AddButton(static_cast<UIButton*>(c), base + int32_t(n));
        ++n;
    }
    return n;
}

void UIRadioButtonContainer::Select(int32_t id) {
    const int32_t index = IndexOf(id);
    if (index < 0) return;
    if (UIButton* old = Button(uint32_t(selected))) old->HideMark();
    if (UIButton* b = Button(uint32_t(index))) b->ShowMark();
    selected = index;
}

void UIRadioButtonContainer::SelectAnimated(int32_t id, const char* presetName) {
    const int32_t index = IndexOf(id);
    if (index < 0) return;
    if (UIButton* old = Button(uint32_t(selected))) {
        old->HideMark();
        old->ApplyRecipePreset(nullptr, true, kDeselectSeconds, 0, 0, true);
    }
    if (UIButton* b = Button(uint32_t(index))) {
        b->ShowMark();
        b->ApplyRecipePreset(presetName, true, kSelectSeconds, 0, 0, true);
    }
    selected = index;
}

void UIRadioButtonContainer::OnEvent(uint32_t id) {
    if (int64_t(int32_t(id)) - int64_t(baseId) == int64_t(selected)) return;
    if (!selectionPreset.IsEmpty())
        SelectAnimated(int32_t(id), selectionPreset.CStr());
    else
        Select(int32_t(id));
    if (listener) listener->OnEvent(id);
}

// ---- Tabs ----

UITabbedContainer::UITabbedContainer() = default;

void UITabbedContainer::OnBeforeDelete() {
    tabs.Release();
    UIRadioButtonContainer::OnBeforeDelete();
}

uint32_t UITabbedContainer::CollectButtons(int32_t base) {
    baseId = base;
    uint32_t n = 0;
    for (UIElement* c = GetFirstChild(); c; c = c->GetNextSibling()) {
        if (UIElement* tab = c->FindElementByName(TabName())) {
            tabs.Add(SafePointer<UIElement>(tab));
            tab->Hide();
        }
        UIElement* b = c->FindElementByName(TabButtonName());
        if (!b || !b->IsUiButton()) continue;
        AddButton(static_cast<UIButton*>(b), base + int32_t(n));
        b->Show();
        ++n;
    }
    UIElement* first = Tab(0);
    if (tabs.Count() >= 2 && first) {
        const Vector size = RecipeSize(first), position = RecipePosition(first);
        for (uint32_t i = 0; i < tabs.Count(); ++i)
            if (UIElement* t = Tab(i)) {
                t->SetSize(size);
                t->SetPosition(position);
            }
    }
    if (tabs.Count() >= 1 && buttons.Count() >= 1) {
        LayOutTabButtons();
        Select(base);
    }
    return n;
}

void UITabbedContainer::LayOutTabButtons() {
    UIElement* firstTab = Tab(0);
    UIButton* firstButton = Button(0);
    if (!firstTab || !firstButton) return;
    const float W = RecipeSize(firstTab).x;
    const float m = float(buttons.Count());
    const Vector S = RecipeSize(firstButton), P = RecipePosition(firstButton);
    const float w = W / m;
    const Vector size(w, S.y, 0, 1);
    // Each button centred on its place in the row, as a centred recipe button is.
    const Vector anchor = size * -0.5f;
    const float offset = std::fabs(std::trunc(w - S.x)) * 0.5f;
    for (uint32_t i = 0; i < buttons.Count(); ++i) {
        UIButton* b = Button(i);
        if (!b) continue;
        b->SetSize(size);
        b->SetAnchor(anchor);
        b->SetPosition(Vector(P.x + offset + float(i) * w, 0, 0, 0));
        for (UIElement* c = b->GetFirstChild(); c; c = c->GetNextSibling())
            if (c->IsUIPicture()) {
                c->SetSize(size);
                c->SetAnchor(anchor);
            }
    }
}

void UITabbedContainer::Select(int32_t id) {
    const int32_t index = IndexOf(id);
    if (index < 0 || index == selected || uint32_t(index) >= tabs.Count()) return;
    if (selected >= 0) {
        if (UIElement* t = Tab(uint32_t(selected))) t->Hide();
        if (UIButton* b = Button(uint32_t(selected)))
            b->ApplyRecipePreset(nullptr, true, kTabPresetSeconds, 0, 0, true);
    }
    if (UIElement* t = Tab(uint32_t(index))) t->Show();
    if (UIButton* b = Button(uint32_t(index))) b->ApplyRecipePreset("Touched", true, kTabPresetSeconds, 0, 0, true);
    selected = index;
}

const RTTIClass* UIRadioButtonContainer::GetRTTIClass() const {
    return RTTIClassRegistry::FindClass("UIRadioButtonContainer");
}

const RTTIClass* UITabbedContainer::GetRTTIClass() const { return RTTIClassRegistry::FindClass("UITabbedContainer"); }
