#pragma once
// UIScreen: the root element of one UI tree, the unit the Game draws and feeds with the
// pointer.
//
// Threads: the main thread builds the screen, posts its per-frame submission (Render:
// viewport, camera, op 25, the tracked placements, op 26) and routes the pointer through
// the hit candidates. The render thread draws the tree (RenderTree, run by op 26) and
// fills the render copy of the hit candidates; the publish/taken ticket pair is the only
// hand-shake: the render side collects only while the two are equal and raises the first
// after a full barrier; Update copies the set and raises the second.
//
// Spaces: UI space is the reference size in UI units (origin top-left, y down);
// normalised screen space runs from (0, 0) top-left to (1, 1) bottom-right; device space
// is x, y in [-1, 1], y up (the candidates' corners).
#include <atomic>
#include <cstdint>
#include <vector>

#include "core/math/Matrix.h"
#include "core/rtti/SafePointer.h"
#include "ui/elements/UIElement.h"

class Entity;

constexpr uint32_t UIENTITYTRACKING_SURVIVEENTITYDEATH = 0x20;
constexpr uint32_t UIENTITYTRACKING_HIDEWITHENTITY = 0x40;

// One focusable element's screen quad as the render side saw it.
struct UIHitCandidate {
    Vector corners[4];  // device space, divided by w, clamped to the clip rectangle
    uint32_t id = 0;
    uint8_t flags = 0;  // the element's UIFLAG_PERSISTENTTAP bit (carried, not interpreted)
};

// Glues an element to a scene entity (main thread).
struct UITrackedEntity {
    SafePointer<UIElement> element;
    SafePointer<Entity> entity;
    Vector offset;
    Vector lastPosition;
    uint32_t flags = 0;
    uint32_t extra = 0;  // carried, not interpreted
    bool hiddenByEntity = false;
};

// The result of a hit test.
struct UIHitResult {
    uint32_t id = 0;
    uint8_t flags = 0;
    float distance = 0;
};

class UIScreen : public UIElement {
public:
    static constexpr uint32_t kMaxCandidates = 64;

    UIScreen();
    ~UIScreen() override;

    // ======== Main thread ========
    void OnBeforeDelete() override;

    // Pointer input (point in normalised screen space); true when handled.
    virtual bool OnMouseButtonDown(const Vector& point, uint32_t button);
    virtual bool OnMouseButtonUp(const Vector& point, uint32_t button);
    virtual bool OnMouseMove(const Vector& point, uint32_t button);
    // The per-frame hook the Game calls at the end of each tick (empty here).
    virtual void OnFrame() {}
    // Only Enter (13) is handled.
    virtual bool OnChar(uint32_t character);
    // A subclass's camera adjustment (empty here).
    virtual void SetupCamera(uint32_t renderWidth, uint32_t renderHeight, Matrix& view, Matrix& projection,
                             Matrix& ortho, float& scaleX, float& scaleY) {}

    using UIElement::Render;  // the render half
    // The per-frame submission (render size in pixels, the smooth clocks in counter
    // ticks, the pointer in normalised screen space).
    void Render(uint32_t renderWidth, uint32_t renderHeight, int64_t smoothGameTime, int64_t smoothGameplayTime,
                const Vector& pointer);
    // The camera Render posts: view, perspective and orthographic projections (the
    // letterbox folded in), the camera's UI width and height and the letterbox factors.
    void ComputeCamera(uint32_t renderWidth, uint32_t renderHeight, Matrix* view, Matrix* projection, Matrix* ortho,
                       float* width, float* height, float* sx, float* sy) const;
    // Takes a newly published candidate set; stores the element under the cursor.
    void Update(const Vector& cursor);
    // The cursor the Game routes the pointer with (normalised), for the per-tick Update.
    void SetCursorPosition(const Vector& position) { cursor = position; }
    const Vector& CursorPosition() const { return cursor; }

    // Conversions (render size in pixels).
    Vector UIPointToScreenPoint(const Vector& point, uint32_t renderWidth, uint32_t renderHeight) const;
    Vector ScreenPointToUIPoint(const Vector& point, uint32_t renderWidth, uint32_t renderHeight) const;
    // False when the position lies behind the camera (out untouched).
    bool WorldPositionToUIPoint(const Vector& position, uint32_t renderWidth, uint32_t renderHeight,
                                const Matrix& view, const Matrix& projection, Vector* out) const;

    // Hit testing against the main copy (normalised point): the last candidate hit wins.
    UIHitResult GetElementAt(const Vector& point) const;
    UIElement* GetElementAtScreenPosition(const Vector& point) const;
    uint32_t GetPointedElementId() const { return pointedId; }
    int32_t FindHitCandidate(uint32_t elementId) const;
    bool HitTestCandidate(int32_t index, const Vector& point) const;
    uint32_t CandidateCount() const { return mainCount; }
    const UIHitCandidate& Candidate(uint32_t i) const { return mainCandidates[i]; }

    // Entity tracking.
    void EnableEntityTracking(UIElement* element, Entity* entity, uint32_t trackingFlags, const Vector& offset,
                              uint32_t extra);
    void DisableEntityTracking(UIElement* element);
    uint32_t TrackedCount() const { return uint32_t(tracked.size()); }

    void SetBlocksSceneRendering(bool value) { blocksSceneRendering = value; }
    bool BlocksSceneRendering() const { return blocksSceneRendering; }
    void SetBlendingWhenUsedAsLoadingScreen(bool value) { loadingScreenBlending = value ? 1 : 0; }
    bool BlendingWhenUsedAsLoadingScreen() const { return loadingScreenBlending != 0; }
    void SetKeepAspect(bool value) { keepAspect = value; }
    void SetUseRenderTargetSize(bool value) { useRenderTargetSize = value; }
    UIElement* PressedElement() const { return pressed.Get(); }
    // The wide text input holding the keyboard focus (null: none).
    UIElement* FocusedTextInput() const { return focusedInput.Get(); }
    bool KeyboardShifted() const { return keyboardShift != 0; }
    bool Dragging() const { return dragging; }

    // Told when the screen enters or leaves a Game slot; the screen's teardown (however it
    // comes) empties every slot still naming it before it goes.
    void SlotChanged(bool entered);

    // ======== Render thread ========
    // Op 26: draws the tree, collects and publishes the candidates, flushes the batches.
    void RenderTree();
    // The tree draw's candidate collection (only while this screen draws).
    void AddCandidate(const UIElement* element, const Matrix& drawMatrix);
    int32_t blockFocusDepth = 0;

    // Tickets (tests read them).
    uint32_t PublishedSets() const { return publishTicket.load(std::memory_order_acquire); }
    uint32_t TakenSets() const { return takenTicket.load(std::memory_order_acquire); }

private:
    void UpdateTrackedEntities(const Matrix& view, const Matrix& projection);
    void ShiftForKeyboard(bool up);
    void ReleaseTextFocus();
    float Letterbox(uint32_t renderWidth, uint32_t renderHeight, float* offset) const;

    // ---- Main thread ----
    std::vector<UITrackedEntity*> tracked;
    float scaleX = 1, scaleY = 1;
    bool blocksSceneRendering = false;
    bool useRenderTargetSize = false;
    bool keepAspect = true;
    UIHitCandidate mainCandidates[kMaxCandidates];
    uint32_t mainCount = 0;
    uint32_t pointedId = 0;
    uint32_t loadingScreenBlending = 0;
    SafePointer<UIElement> focusedInput;  // a UIUniTextInput
    SafePointer<UIElement> pressed;
    bool keyboardShift = false;
    float epsilon = 0.001f;
    bool isPressed = false, dragging = false, thirdPress = false;
    uint32_t pressButton = 0;
    Vector cursor;

    // ---- Render thread ----
    UIHitCandidate renderCandidates[kMaxCandidates];
    uint32_t renderCount = 0;
    bool collecting = false;

    // ---- Hand-shake ----
    std::atomic<uint32_t> publishTicket{0};
    std::atomic<uint32_t> takenTicket{0};
};

// The UI reference size: the override when positive, else the screen size.
float GetUIWidth();
float GetUIHeight();
void SetUISizeOverride(float width, float height);
// The screen size the renderer keeps (main thread).
void SetUICurrentScreenSize(float width, float height);
// The physical resolution (main thread).
void SetUIPhysicalResolution(float width, float height);
void GetPhysicalScreenResolution(float* width, float* height);
// The letterbox factors of the UI reference size in a render target (1, 1 without keep
// aspect): on the letterboxed axis a normalised point n = (u / ui - 0.5) * s + 0.5.
void UIScreenLetterbox(bool keepAspect, uint32_t renderWidth, uint32_t renderHeight, float* sx, float* sy);
// Render thread: the op-26 draw (installed by the start-up table).
void UIScreenRenderTree(UIElement* screen, uint8_t blocksScene);
// Render thread: the tree of an in-game UI entity (the scene's uiDrawElementTree).
void UIDrawInGameElementTree(UIElement* root, const Matrix& uiTransform);
