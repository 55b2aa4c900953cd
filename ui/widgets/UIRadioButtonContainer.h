#pragma once
// UIRadioButtonContainer: collects the buttons among its children, gives each a notify
// command carrying its id and keeps one of them selected. UITabbedContainer: a radio
// container whose children are tab pages ("Tab", the page, and "TabButton", its button);
// it shows the selected page and lays the tab buttons out in a row.
//
// Main thread. The buttons and tabs are held as safe pointers: a descendant released on
// its own (a script, a Delete action) leaves an empty slot that every operation skips.
// The listener is not owned and must outlive the container or be reset.
#include "core/Dynarray.h"
#include "core/rtti/SafePointer.h"
#include "core/text/NameString.h"
#include "ui/elements/UIElement.h"

class UIButton;

class UIRadioButtonContainer : public UIElement, public EventReceiver {
public:
    // Scripts see both containers as plain UIElements.
    UIRadioButtonContainer();
    const RTTIClass* GetRTTIClass() const override;

    bool IsUIRadioButtonContainer() const override { return true; }

    // ======== Main thread ========
    void SetListener(EventReceiver* receiver) { listener = receiver; }
    // Appends the direct children that are buttons (a second call appends again); the
    // number found.
    virtual uint32_t CollectButtons(int32_t baseId);
    // Selects the button of the id without animation; ids outside the buttons are ignored.
    virtual void Select(int32_t id);
    // With a preset: the old button returns to its recipe values, the new one takes the
    // preset.
    void SelectAnimated(int32_t id, const char* presetName);
    // A button's notify command: selects (animated when a selection preset is set) unless
    // the id is selected already, then tells the listener.
    void OnEvent(uint32_t id) override;

    void SetSelectionPreset(const char* name) { selectionPreset = name; }
    int32_t GetSelected() const { return selected; }
    int32_t GetBaseId() const { return baseId; }
    uint32_t ButtonCount() const { return buttons.Count(); }
    UIButton* Button(uint32_t i) const { return i < buttons.Count() ? buttons[i].Get() : nullptr; }

    // Lets go of the buttons (and tabs) on the main thread.
    void OnBeforeDelete() override;

protected:
    ~UIRadioButtonContainer() override = default;
    // The index of an id within the buttons, or -1.
    int32_t IndexOf(int32_t id) const;
    void AddButton(UIButton* button, int32_t id);

    DynarraySafe<SafePointer<UIButton>> buttons;
    EventReceiver* listener = nullptr;
    NameString selectionPreset;
    int32_t selected = -1;
    int32_t baseId = 0;
};

class UITabbedContainer : public UIRadioButtonContainer {
public:
    UITabbedContainer();
    const RTTIClass* GetRTTIClass() const override;

    bool IsUITabbedContainer() const override { return true; }

    uint32_t CollectButtons(int32_t baseId) override;
    void Select(int32_t id) override;

    void OnBeforeDelete() override;
    uint32_t TabCount() const { return tabs.Count(); }
    UIElement* Tab(uint32_t i) const { return i < tabs.Count() ? tabs[i].Get() : nullptr; }

protected:
    ~UITabbedContainer() override = default;

private:
    void LayOutTabButtons();

    DynarraySafe<SafePointer<UIElement>> tabs;
};
