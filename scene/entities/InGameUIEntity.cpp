// In-game UI template, entity and rendering context.
#include "scene/entities/InGameUIEntity.h"

#include "core/Log.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIClass.h"
#include "scene/SceneUIServices.h"

namespace {

RTTIClass* gInGameUITemplateClass = nullptr;
RTTIClass* gInGameUIEntityClass = nullptr;

constexpr uint32_t kInGameUISizeFlags = 64;
constexpr uint32_t kInGameUINoInteraction = 2;  // draw flag

}  // namespace

InGameUITemplate::InGameUITemplate() { typeId = ENTITY_INGAMEUI; }

const RTTIClass* InGameUITemplate::RegisterClass() {
    if (gInGameUITemplateClass) return gInGameUITemplateClass;
    EntityTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gInGameUITemplateClass, "InGameUITemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new InGameUITemplate(); });
    AddDirect<Vector>(c, "Size", RTTI_OFFSETOF(InGameUITemplate, size), kInGameUISizeFlags);
    return c;
}

const RTTIClass* InGameUITemplate::GetRTTIClass() const { return RegisterClass(); }
Entity* InGameUITemplate::CreateEntity() { return new InGameUIEntity(); }

InGameUIEntity::~InGameUIEntity() { ReleaseElement(); }

const RTTIClass* InGameUIEntity::RegisterClass() {
    if (gInGameUIEntityClass) return gInGameUIEntityClass;
    Entity::RegisterClass();
    return CreateRegisteredClass(gInGameUIEntityClass, "InGameUIEntity", "Entity");
}

const RTTIClass* InGameUIEntity::GetRTTIClass() const { return RegisterClass(); }

void InGameUIEntity::ReleaseElement() {
    SafePointerRoot* old = element.Get();
    element.Assign(nullptr);
    if (old) GetSceneUIServices().ReleaseElement(old);
}

void InGameUIEntity::SetUIElement(SafePointerRoot* e) {
    if (e == element.Get()) return;
    DeleteRenderingContext();
    ReleaseElement();
    element.Assign(e);
    RecreateRenderingContext(true);
}

EntityRenderingContext* InGameUIEntity::CreateRenderingContext() {
    if (!element.Get()) {
        SetEnforcedRenderingBits(kInGameUIRenderBit, 0);
        return nullptr;
    }
    SetEnforcedRenderingBits(0, kInGameUIRenderBit);
    const auto* t = dynamic_cast<const InGameUITemplate*>(GetTemplate());
    EntityRenderingContextSetup s;
    FillRenderingContextSetup(s, 0, 0);
    return new InGameUIEntityRenderingContext(s, element.Get(), t ? t->size : InGameUITemplate().size);
}

InGameUIEntityRenderingContext::InGameUIEntityRenderingContext(const EntityRenderingContextSetup& setup,
                                                               SafePointerRoot* shown, const Vector& size)
    : EntityRenderingContext(setup), element(shown) {
    drawable = ScaleFor(size, scale);
}

bool InGameUIEntityRenderingContext::ScaleFor(const Vector& size, Vector& out) {
    if (!(size.x > 0.0f) || !(size.y > 0.0f) || !(size.z > 0.0f)) {
        gLog.Warning(LogCategory::UI, "In-game UI size (%g, %g, %g) is not positive: nothing is drawn",
                     double(size.x), double(size.y), double(size.z));
        out = Vector(0, 0, 0, 0);
        return false;
    }
    out = Vector(2.0f / size.x, -2.0f / size.y, -2.0f / size.z, 0.0f);
    return true;
}

Matrix InGameUIEntityRenderingContext::UITransform(const Matrix& world, const Vector& s) {
    const Vector& x = world.r[0];
    const Vector& y = world.r[1];
    const Vector& z = world.r[2];
    const Vector& t = world.r[3];
    return Matrix(x * s.x, z * s.y, y * s.z, t + y + z - x);
}

void InGameUIEntityRenderingContext::Draw(void*, const Matrix& world, const RenderTaskArguments& arguments) {
    if (!drawable || !element) return;
    GetSceneUIServices().DrawElementTree(element, UITransform(world, scale),
                                         (arguments.flags & kInGameUINoInteraction) == 0);
}
