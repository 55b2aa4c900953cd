#pragma once
// UIList: a vertically scrolling list of entry elements the user drags with the pointer;
// released with speed it glides on and slows down, pulled past either end it eases back.
// Entries are element trees built from named sub-recipes of the list's recipe and stacked
// inside a content element that the list moves. An optional fixed entry (a copy of one
// entry, built from the sub-recipe "FixedEntry") stays pinned to the bottom edge while its
// real row is scrolled below the window. UIRoundList: a list whose entries come from a
// number range, arranged as a ring.
//
// Threads: the main thread changes its own fields and posts the list ops (70-79); the
// render thread applies them to its copies and runs the scrolling once per frame in the
// list's draw (so a hidden or transparent list does not glide). The main side holds the
// entries, the content and the fixed entry as safe pointers (a script may release any of
// them alone); the render side accepts its content and fixed entry only while they are
// still its render children.
#include "core/Dynarray.h"
#include "core/rtti/SafePointer.h"
#include "ui/elements/UIElement.h"

enum : uint32_t {
    UIOP_LIST_CONTENT = 70,          // element
    UIOP_LIST_FIXEDENTRY = 71,       // element
    UIOP_LIST_CONTENTHEIGHT = 72,    // float
    UIOP_LIST_ENTRYCOUNT = 73,       // u32
    UIOP_LIST_FIXEDENTRYINDEX = 74,  // i32
    UIOP_LIST_VISIBLEROWS = 75,      // i32
    UIOP_LIST_SCROLLOFFSET = 76,     // float
    UIOP_LIST_PRESS = 77,            // none
    UIOP_LIST_DRAG = 78,             // Vector (normalised pointer)
    UIOP_LIST_RELEASE = 79,          // none
};

// Render-side scroll states.
enum UIListState : int32_t {
    UILIST_IDLE = 0,
    UILIST_DRAGGING = 1,
    UILIST_GLIDING = 2,
    UILIST_EASINGBACK = 3,
    UILIST_STOPPING = 4,
};

// The render thread's copy of the list.
struct UIListRenderHalf {
    UIElement* content = nullptr;
    UIElement* fixedEntry = nullptr;
    float contentHeight = 0;
    float scrollOffset = 0;
    uint32_t entryCount = 0;
    int32_t fixedEntryIndex = -1;
    int32_t visibleRows = -1;
    // Scrolling.
    Vector lastPointer;
    float margin = 25.0f;  // how far an end may be pulled
    float velocity = 0;    // units per second
    float lastDelta = 0;
    float deceleration = 0;
    float uiHeight = 0;
    float maximumSpeed = 1500.0f;
    int32_t direction = 0;
    int32_t state = UILIST_IDLE;
    double lastTime = 0;  // seconds of the render frame clock (engine clock)
    bool settled = true;
};

class UIList : public UIElement {
public:
    // The fixed entry's fades: length and action channel.
    static constexpr float kFixedFadeSeconds = 0.1f;
    static constexpr uint32_t kFixedFadeChannel = 3;

    UIList();
    const RTTIClass* GetRTTIClass() const override;

    bool IsUIList() const override { return true; }
    // Only a build with child-creation 0 makes the sub-recipes as children; entries come
    // from AddListElement.
    bool BeginRecipeBuild(uint32_t childCreation) override { return childCreation == 0; }

    // ======== Main thread ========
    // Releases the content with every entry and starts an empty one; the fixed entry is
    // hidden and moved to the end of the list's children.
    void Clear();
    // Raises flag 0x80 on the element and stacks it under the others (null is ignored).
    void AppendEntry(UIElement* element);
    // Builds the named sub-recipe of the list's recipe and appends it (null when there is
    // no recipe or no such sub-recipe); with withFixedEntry, the first call also builds the
    // "FixedEntry" copy of this entry.
    UIElement* AddListElement(const char* subRecipeName, bool withFixedEntry);
    void SetScrollOffset(float offset);

    bool OnPress() override;
    bool OnRelease() override;
    bool OnDrag(const Vector& pointer) override;
    bool AcceptsDrag() override { return true; }
    // Lets go of the entries, the content and the fixed entry on the main thread.
    void OnBeforeDelete() override;

    uint32_t EntryCount() const { return entryCount; }
    UIElement* Entry(uint32_t i) const { return i < entries.Count() ? entries[i].Get() : nullptr; }
    UIElement* Content() const { return content.Get(); }
    UIElement* FixedEntry() const { return fixedEntry.Get(); }
    float ContentHeight() const { return contentHeight; }
    int32_t VisibleRows() const { return visibleRows; }
    int32_t FixedEntryIndex() const { return fixedEntryIndex; }

    // ======== Render thread ========
    static void HandleListOp(uint32_t op, UIElement* element, UIOpReader& payload);
    // The per-frame update (glide, ease back, stop); the list itself draws nothing.
    void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) override;
    void RenderFrameUpdate();
    virtual bool ScrollForward(float delta);
    virtual bool ScrollBack(float delta);
    virtual void EaseBack();
    const UIListRenderHalf& ListRender() const { return lr; }

protected:
    ~UIList() override = default;

    // Main side.
    void MakeContent();
    void UpdateFixedEntry();
    float RecipeHeight() const;

    DynarraySafe<SafePointer<UIElement>> entries;
    SafePointer<UIElement> content;
    SafePointer<UIElement> fixedEntry;
    float contentHeight = 0;
    float scrollOffset = 0;
    uint32_t entryCount = 0;
    int32_t fixedEntryIndex = -1;
    int32_t visibleRows = -1;

private:
    // Render side.
    UIElement* RenderContent() const;
    UIElement* RenderFixedEntry() const;
    void ScrollBy(float delta);
    void RenderUpdateFixedEntry();
    void ResetScroll();
    void SetGlideMarks(uint8_t mark);
    void RenderPress();
    void RenderDrag(const Vector& pointer);
    void RenderRelease();
    void Glide(float delta, double dt);

    UIListRenderHalf lr;
};

class UIRoundList : public UIList {
public:
    // The most entries a range makes.
    static constexpr uint32_t kMaxRingEntries = 1000;

    // Scripts see a round list as a UIList.
    UIRoundList();
    const RTTIClass* GetRTTIClass() const override;

    bool IsUIRoundList() const override { return true; }

    // ======== Main thread ========
    // With a true argument: one "RoundListEntry" per value of the range (its "Value" text
    // shows the number), then the last two thrown above the first.
    void EndRecipeBuild(uint32_t childCreation) override;
    void SetRange(int32_t from, int32_t to);
    // Moves the ring's last element above its first.
    void ThrowLastElementUp();
    void OnBeforeDelete() override;

    int32_t RangeFrom() const { return rangeFrom; }
    int32_t RangeTo() const { return rangeTo; }
    UIElement* RingFirst() const { return first.Get(); }
    UIElement* RingLast() const { return last.Get(); }
    float TopPosition() const { return topPosition; }
    float LowestPosition() const { return lowestPosition; }

protected:
    ~UIRoundList() override = default;

private:
    int32_t rangeFrom = 0;
    int32_t rangeTo = 10;
    int32_t ringEntryCount = 10;
    float entryHeight = 0;
    float accumulator = 0;
    SafePointer<UIElement> first;
    SafePointer<UIElement> last;
    float topPosition = 0;
    float lowestPosition = 0;
};

inline constexpr UIOpFamily kUIListFamily = MakeUIOpFamily<&UIList::HandleListOp>();
