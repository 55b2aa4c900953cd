#pragma once
// UIButton: a picture that scales while pressed and runs its commands when clicked.
//
// Main thread: the screen's pointer routing calls the event operations; the visual change
// is a Scale action on channel 3. The event controller's enabled word is the button's
// active flag (a recipe writes "Is active" into it): an inactive button takes no press
// and no click. The button owns its commands and deletes them in its pre-delete hook
// (main thread). The mark icon (the descendant named "MarkIcon", looked up until found)
// is held through a safe pointer, so a script that releases it alone leaves no dangling
// pointer.
#include "core/Dynarray.h"
#include "core/rtti/SafePointer.h"
#include "ui/elements/UIPicture.h"

class UIButton : public UIPicture {
public:
    // The scale time of a button made in code (a recipe sets its own).
    static constexpr float kDefaultScaleTime = 0.2f;
    static constexpr uint32_t kScaleChannel = 3;

    // Scripts see a button as a UIPicture (no script class of its own is bound).
    UIButton();
    const RTTIClass* GetRTTIClass() const override;

    bool IsUiButton() const override { return true; }

    // ======== Main thread ========
    bool OnPress() override;
    bool OnRelease() override;
    bool OnClick() override;
    bool OnPressLost(const Vector& pointer) override;

    // Deletes every held command, then keeps this one (null: none).
    void SetCommand(UIElementCommand* command) override;
    void AddCommand(UIElementCommand* command) override;
    uint32_t CommandCount() const { return commands.Count(); }

    // Removes every action, then clears the hidden flag.
    void Show() override;
    void ShowMark();
    void HideMark();

    void SetScaleOnClick(float value) { scaleOnClick = value; }
    void SetScaleTime(float value) { scaleTime = value; }
    float GetScaleOnClick() const { return scaleOnClick; }
    float GetScaleTime() const { return scaleTime; }
    bool PressLost() const { return pressLost; }

    void OnBeforeDelete() override;

protected:
    ~UIButton() override;

private:
    void DeleteCommands();

    Dynarray<UIElementCommand*> commands;
    SafePointer<UIElement> markIcon;
    float scaleOnClick = 1.0f;
    float scaleTime = kDefaultScaleTime;
    bool pressLost = false;
    // Set by SetCommand: a click in progress drops the commands it holds.
    bool commandsReplaced = false;
};
