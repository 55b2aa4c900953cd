#pragma once
// In-game UI: an entity that shows a UI element tree on a square in the 3-D scene. The
// element's area of Size.x by Size.y UI units covers the entity's local square from -1 to
// +1 on X and from +1 down to -1 on Z, on the plane Y = +1 (UI x to local +X, UI y to
// local -Z). The UI library is linked above the scene, so the entity holds the element
// by its SafePointerRoot base and reaches it only through SceneUIServices.
//
// The entity (main thread) has a rendering context exactly while it shows an element; the
// context draws on the render thread.
#include "core/math/Matrix.h"
#include "core/math/Vector.h"
#include "core/rtti/SafePointer.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"
#include "render/scene/EntityRenderingContext.h"

// Enforced rendering bit of an entity that shows an element.
constexpr uint32_t kInGameUIRenderBit = 0x20;

class InGameUITemplate : public EntityTemplate {
public:
    InGameUITemplate();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "InGameUITemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "InGameUIEntity"; }

    Vector size{100, 100, 100, 0};  // "Size", UI units
};

class InGameUIEntity : public Entity {
public:
    InGameUIEntity() = default;
    // Releases the shown element once.
    ~InGameUIEntity() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // Script method: shows element (null: none). Nothing for the element already shown;
    // otherwise the context goes, the old element is released and the context is made
    // again for the new one.
    void SetUIElement(SafePointerRoot* element);
    SafePointerRoot* GetUIElement() const { return element.Get(); }
    EntityRenderingContext* CreateRenderingContext() override;

private:
    void ReleaseElement();

    SafePointer<SafePointerRoot> element;
};

class InGameUIEntityRenderingContext : public EntityRenderingContext {
public:
    InGameUIEntityRenderingContext(const EntityRenderingContextSetup& setup, SafePointerRoot* element,
                                   const Vector& size);
    // Render thread: the tree through the UI transform; draw flag 2 turns interaction off.
    void Draw(void* task, const Matrix& world, const RenderTaskArguments& arguments) override;

    // Rows X * s.x, Z * s.y, Y * s.z and T + Y + Z - X of the world matrix.
    static Matrix UITransform(const Matrix& world, const Vector& scale);
    // (2 / Size.x, -2 / Size.y, -2 / Size.z); false (and a warning) when a size is not
    // above 0.
    static bool ScaleFor(const Vector& size, Vector& scale);

    SafePointerRoot* Element() const { return element; }
    const Vector& Scale() const { return scale; }
    bool Drawable() const { return drawable; }

private:
    SafePointerRoot* element;
    Vector scale;
    bool drawable;
};
