#pragma once
// UIElement: the base of every retained UI object (screens, pictures, texts, buttons,
// lists, ...). Elements form trees; scripts create and drive them.
//
// An element has two halves. The main half (script class name, name, flags, id, tree
// links, recipe, default action flags) belongs to the main thread. The render half
// (transform, size, colour, modes, action channels, render tree) belongs to the render
// thread and changes only through element ops (UIOpStream.h) applied in posting order.
// The main thread never reads the render half once the element is constructed; the
// render thread touches the main half only when it frees the element. UIElement.cpp
// describes the hand-over of deleted elements.
#include <atomic>
#include <cstdint>

#include "core/math/Matrix.h"
#include "core/rtti/SafePointer.h"
#include "core/text/NameString.h"
#include "engine/script/LuaNamedBaseClass.h"
#include "ui/elements/UIConstants.h"
#include "ui/elements/UIEventController.h"
#include "ui/elements/UIOpStream.h"

class EntityTemplate;
class UIAction;
class UIElementRecipe;
struct UIFadeRecord;

// The render half. Render thread only once the element is published.
struct UIElementRenderHalf {
    NameString tag;
    NameString name;  // the main half's name as of the last op 21 (SetName)
    uint32_t flags = 0;  // UIFLAG_* plus the render-only UIRENDERFLAG_* bits
    uint32_t windowAlignment = UIWINDOWALIGNMENT_NONE;
    uint32_t aspectScaling = 0;
    uint32_t blendMode = BLEND_ALPHA;
    uint32_t colorMode = UICOLOR_MULTIPLYBYPARENTALPHA;
    uint32_t outlineMask = 0;
    Matrix localMatrix = Matrix::IDENTITY;
    Vector extent{64, 64, 0, 1};
    Vector position;
    Vector anchor;
    Vector rotation;
    Vector scale{1, 1, 1, 0};
    Vector size{64, 64, 0, 0};
    Vector selectionFrame;
    Vector color{1, 1, 1, 1};
    Vector extraParam;
    uint32_t tapId = 0;
    UIElement* firstChild = nullptr;
    UIElement* lastChild = nullptr;
    UIElement* parent = nullptr;
    UIElement* previousSibling = nullptr;
    UIElement* nextSibling = nullptr;
    UIAction* actionHeads[kUIActionChannels] = {};
    UIAction* actionTails[kUIActionChannels] = {};
    bool mirrored = false;
    // Render-side weak links to the element (an action following it); freeing the
    // element empties them. The main side's safe pointers are the element's own list.
    SafePointerRoot renderLinks;
};

class UIElement : public LuaNamedBaseClass, public UIEventController {
public:
    UIElement();
    UIElement(const UIElement&) = delete;
    UIElement& operator=(const UIElement&) = delete;

    const RTTIClass* GetRTTIClass() const override;

    // ======== Main thread ========
    // Tears the subtree down on the main side (OnBeforeDelete of every descendant, then of
    // this element), unlinks it and posts op 0, which frees it on the render thread. The
    // caller must not use the element afterwards.
    virtual void Release();

    // Kind queries (true in the named class and its subclasses).
    virtual bool IsUIPicture() const { return false; }
    virtual bool IsUITextBase() const { return false; }
    virtual bool IsUIText() const { return false; }
    virtual bool IsUITextInput() const { return false; }
    virtual bool IsUIUniTextInput() const { return false; }
    virtual bool IsUITextBox() const { return false; }
    virtual bool IsUIList() const { return false; }
    virtual bool IsUIRoundList() const { return false; }
    // True for UIButton; the query keeps its established spelling.
    virtual bool IsUiButton() const { return false; }
    virtual bool IsUITemplateView() const { return false; }
    virtual bool IsUIRadioButtonContainer() const { return false; }
    virtual bool IsUITabbedContainer() const { return false; }

    // Recipe building: whether the recipe's sub-recipes are built under this element.
    virtual bool BeginRecipeBuild(uint32_t childCreation) { return true; }
    virtual void EndRecipeBuild(uint32_t childCreation) {}

    virtual void Hide();
    virtual void Show();

    // Passes the loading-screen mark to the element's resources (nothing in the base).
    virtual void OnTemporaryLoadingScreenMark(uint32_t mark) {}
    // The pre-delete hook, in order: leave the focus table, drop the recipe and its owner
    // reference, clear the safe pointers aimed at the element, kill its script handle.
    virtual void OnBeforeDelete();

    // ---- Tree (each posts its op) ----
    // Refuses (one error line, nothing changed) a child that is this element or one of
    // its ancestors.
    void AddChild(UIElement* child);
    void RemoveChild(UIElement* child);
    void DeleteChildren();
    UIElement* GetTopParent();
    UIElement* FindElementById(uint32_t id);
    bool HasElementWithId(uint32_t id) { return FindElementById(id) != nullptr; }
    UIElement* FindElementByFlag(uint32_t value, uint32_t mask);
    UIElement* FindElementByName(const NameString& name);
    // True when the ancestor is this element or on its parent chain; false for null this.
    bool IsDescendantOf(const UIElement* ancestor) const;

    UIElement* GetParent() const { return parent; }
    UIElement* GetFirstChild() const { return firstChild; }
    UIElement* GetNextSibling() const { return nextSibling; }
    uint32_t GetId() const { return id; }
    const NameString& GetName() const { return name; }
    // Also posts op 21, so the render side reads its own copy (never the main half's).
    void SetName(const char* text);
    uint32_t GetFlags() const { return flags; }
    bool IsVisible() const { return (flags & UIFLAG_HIDDEN) == 0; }
    uint32_t GetDefaultActionFlags() const { return defaultActionFlags; }

    // ---- Flags ----
    void RaiseFlag(uint32_t bits, bool recursive);
    void ClearFlag(uint32_t bits, bool recursive);
    void BlockFocus(uint32_t bits, bool recursive) { RaiseFlag(bits, recursive); }
    void UnblockFocus(uint32_t bits, bool recursive) { ClearFlag(bits, recursive); }
    void SetDefaultActionFlags(uint32_t actionFlags, bool recursive);
    void MarkAsTemporaryLoadingScreenUI();
    // The named element of the subtree, when it is a text element: a null text hides it,
    // any other sets it (UITextBase::SetText) and shows it. Null when there is none.
    UIElement* SetNamedText(const char* elementName, const char* text);

    // ---- Setters (each posts one op) ----
    void SetWindowAlignment(uint32_t alignment);
    void SetPosition(const Vector& position);
    void SetPosition(float x, float y, float z) { SetPosition(Vector(x, y, z, 0)); }
    void SetPositionWithMask(float x, float y, float z, bool maskX, bool maskY, bool maskZ);
    void SetAnchor(const Vector& anchor);
    void SetAnchor(float x, float y, float z) { SetAnchor(Vector(x, y, z, 0)); }
    void SetRotation(const Vector& degrees);
    void SetRotation(float angle) { SetRotation(Vector(0, 0, angle, 0)); }
    void SetRotation(float x, float y, float z) { SetRotation(Vector(x, y, z, 0)); }
    void SetScale(const Vector& scale);
    void SetScale(float s) { SetScale(Vector(s, s, s, 0)); }
    void SetScale(float x, float y, float z) { SetScale(Vector(x, y, z, 0)); }
    void SetSize(const Vector& size);
    void SetSize(float width, float height) { SetSize(Vector(width, height, 0, 0)); }
    // r, g, b raised to 2.2 (linear space), a unchanged.
    void SetColor(const Vector& color);
    void SetColor(float r, float g, float b, float a) { SetColor(Vector(r, g, b, a)); }
    void SetLinearColor(const Vector& color);
    void SetLinearColor(float r, float g, float b, float a) { SetLinearColor(Vector(r, g, b, a)); }
    void SetBlendMode(uint32_t mode);
    void SetColorMode(uint32_t mode);
    // Null posts a count of 0.
    void SetTag(const char* text);
    void SetExtraParamVector(const Vector& value);
    void RemoveAllActions(uint32_t channel);
    // Recipe-only setters.
    void SetAspectScaling(uint32_t mode);
    void SetSelectionFrame(const Vector& frame);
    void SetOutline(uint32_t index);

    // ---- Recipe ----
    // Stores the recipe and moves the instance reference to the new owner template.
    void SetRecipe(UIElementRecipe* recipe, EntityTemplate* owner);
    UIElementRecipe* GetRecipe() const { return recipe; }
    EntityTemplate* GetRecipeOwner() const { return recipeOwner; }
    // The recipe half (ui/recipes/UIElement_Recipe.cpp). Builds the tree of the named UI recipe
    // template (or of its named sub-recipe); null with one error line when the template
    // is missing or no UI recipe, or the sub-recipe is missing.
    static UIElement* CreateFromRecipe(const char* templateName, const char* subRecipeName);
    // Without a sub-recipe name: a transparent plain root holding the recipe's sub-recipe
    // trees; with one: that sub-recipe's tree (null when absent).
    static UIElement* CreateFromRecipeObject(UIElementRecipe* recipe, EntityTemplate* owner,
                                             const char* subRecipeName, uint32_t childCreation);
    UIElement* CreateElementFromSubRecipe(const char* subRecipeName, uint32_t childCreation);
    // Readers of the recipe's (or its named preset's) properties; defaults when the
    // element has no recipe or the property is absent or of another type.
    bool GetRecipeBoolProperty(const char* propertyName, const char* presetName) const;
    void LoadRecipeVectorProperty(Vector& out, const char* propertyName, const char* presetName) const;
    void LoadRecipeLinearColorProperty(Vector& out, const char* propertyName, const char* presetName) const;
    // The recipe's "Prefab" text; null without a recipe.
    const char* GetRecipePrefab() const;
    void ApplyRecipePreset(const char* presetName, bool recursive, float time, uint32_t actionFlags,
                           uint32_t channel, bool cancelFirst);

    // ---- Action requests (each posts op 23 with a new action) ----
    void PostAddAction(UIAction* action);
    void Wait(float time, uint32_t actionFlags, uint32_t channel);
    void Move(float time, const Vector& position, uint32_t actionFlags, uint32_t channel);
    void Move2(float time, float x, float y, uint32_t actionFlags, uint32_t channel);
    void Move3(float time, float x, float y, float z, uint32_t actionFlags, uint32_t channel);
    void ChangeSize(float time, const Vector& size, uint32_t actionFlags, uint32_t channel);
    void Rotate(float time, const Vector& degrees, uint32_t actionFlags, uint32_t channel);
    void Rotate(float time, float angle, uint32_t actionFlags, uint32_t channel);
    void Rotate3(float time, float x, float y, float z, uint32_t actionFlags, uint32_t channel);
    void Scale(float time, const Vector& scale, uint32_t actionFlags, uint32_t channel);
    void Scale(float time, float s, uint32_t actionFlags, uint32_t channel);
    void Scale3(float time, float x, float y, float z, uint32_t actionFlags, uint32_t channel);
    void ChangeColor(float time, const Vector& color, uint32_t actionFlags, uint32_t channel);
    void ChangeColor(float time, float r, float g, float b, float a, uint32_t actionFlags, uint32_t channel);
    void ChangeLinearColor(float time, const Vector& color, uint32_t actionFlags, uint32_t channel);
    void ChangeLinearColor(float time, float r, float g, float b, float a, uint32_t actionFlags, uint32_t channel);
    void BlendOutAndHide(float time, uint32_t actionFlags, uint32_t channel);
    void ShowAndBlendIn(float time, uint32_t actionFlags, uint32_t channel);
    void Delete(float delay, uint32_t channel);

    // ---- Hand-over of elements deleted on the render side ----
    // Start of the per-frame renderer parameters: releases the element the render thread
    // handed over, if any (at most one).
    static void FinishPendingDeletion();

    // ---- Counts and the memory guard ----
    static uint32_t CreatedCount();
    static uint32_t DestroyedCount();
    static uint32_t LiveCount() { return CreatedCount() - DestroyedCount(); }

    // ======== Render thread ========
    // The element family's handler (ops 0-24; others are skipped).
    static void HandleElementOp(uint32_t op, UIElement* element, UIOpReader& payload);

    const UIElementRenderHalf& Render() const { return rs; }
    UIElementRenderHalf& RenderMutable() { return rs; }

    void DoSetPosition(const Vector& position);
    void DoSetRotation(const Vector& degrees);
    void DoSetScale(const Vector& scale);
    // The size operation (op 13): size and extent.
    virtual void DoSetSize(const Vector& size);
    // The tree draw (UIElement_Draw.cpp): ticks, aligns, fades, clips and draws the
    // subtree, collecting the current screen's hit candidates.
    void DrawTree(const Matrix& parentMatrix, const Vector& parentColour, bool parentMirrored,
                  const UIFadeRecord* fade, uint32_t alignedBits);
    // The element's own draw (draw matrix without the size, final colour, mirrored, fade
    // record or null). The base draws a flat quad into batch 0.
    virtual void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade);
    // A flat quad of the element's size into batch 0 with the untextured UI shaders.
    void DrawFlatQuad(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) const;
    // The element's default four-float value (zero in the base).
    virtual Vector GetDefaultValue() const { return Vector(); }

    // Render tree.
    void RenderAttachChild(UIElement* child);
    void RenderDetach();
    void RenderRaiseFlags(uint32_t bits, bool recursive);
    void RenderClearFlags(uint32_t bits, bool recursive);

    // Actions: op 23, op 22 (channel -1 for all; others outside 0-3 do nothing), the
    // per-frame tick the tree draw runs first for each drawn element.
    void AddAction(UIAction* action);
    void RemoveActions(int32_t channel);
    void TickActions();

    // Op 24: places the element over a tracked entity.
    void TrackEntity(const Vector& projected, float distance, uint32_t trackingFlags);
    // Follows the tap table's position of the element's tap id, when it has one.
    void FollowTap(bool (*lookupTap)(uint32_t tapId, float* x, float* y));

    // Deletion on the render side (a UIActionDelete firing).
    void QueueForDeletion();
    // Once per renderer tick: hands the last queued element to the main thread.
    static void ProcessPendingDeletion();
    // Test hooks of the pending list and the hand-over slot.
    static uint32_t PendingDeletionCount();
    static UIElement* HandOverSlot();

protected:
    // Render thread: frees the element (op 0, or as a render child of a freed element).
    ~UIElement() override;

private:
    friend class UIAction;
    struct DeletionAccess;
    friend struct DeletionAccess;

    void Unlink();
    void TearDownChildren();
    void PostRaw(uint32_t op, const void* payload = nullptr, uint32_t bytes = 0);
    void RenderDestroy();  // op 0, with the hand-over rules

    // ---- Main half ----
    NameString name;
    uint32_t flags = 0;
    uint32_t id = 0;
    UIElement* firstChild = nullptr;
    UIElement* lastChild = nullptr;
    UIElement* parent = nullptr;
    UIElement* previousSibling = nullptr;
    UIElement* nextSibling = nullptr;
    UIElementRecipe* recipe = nullptr;
    EntityTemplate* recipeOwner = nullptr;
    uint32_t defaultActionFlags = 0;
    bool released = false;          // main-side teardown ran
    bool ancestorTornDown = false;  // ... as part of an ancestor's (no op 0 of its own)

    // ---- Render thread ----
    bool deleteRequested = false;  // op 0 arrived while handed over and not yet taken

    // ---- Render half ----
    UIElementRenderHalf rs;
};

// The element family of the op stream.
inline constexpr UIOpFamily kUIElementFamily = MakeUIOpFamily<&UIElement::HandleElementOp>();

// The memory guard: while on, every new element starts as a child of a guard element;
// disabling it releases whatever is still under it.
void EnableUIMemoryGuard();
void DisableUIMemoryGuard();
void UIMemoryGuardReportElement(UIElement* element);
UIElement* UIMemoryGuard();
