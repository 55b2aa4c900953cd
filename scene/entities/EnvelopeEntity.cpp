// Vector and colour envelope templates and entities.
#include "scene/entities/EnvelopeEntity.h"

#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIClass.h"

namespace {

RTTIClass* gVectorEnvelopeTemplateClass = nullptr;
RTTIClass* gColorEnvelopeTemplateClass = nullptr;
RTTIClass* gVectorEnvelopeEntityClass = nullptr;
RTTIClass* gColorEnvelopeEntityClass = nullptr;

}  // namespace

VectorEnvelopeTemplate::VectorEnvelopeTemplate() {
    typeId = ENTITY_VECTOR_ENVELOPE;
    envelope.SetConstantValue(Vector(1, 1, 1, 1));
}

const RTTIClass* VectorEnvelopeTemplate::RegisterClass() {
    if (gVectorEnvelopeTemplateClass) return gVectorEnvelopeTemplateClass;
    EntityTemplate::RegisterClass();
    TEnvelope<Vector>::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gVectorEnvelopeTemplateClass, "VectorEnvelopeTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new VectorEnvelopeTemplate(); });
    c->AddProperty(new RTTIEmbeddedObjectProperty<TEnvelope<Vector>>(
        "Envelope", RTTI_OFFSETOF(VectorEnvelopeTemplate, envelope)));
    return c;
}

const RTTIClass* VectorEnvelopeTemplate::GetRTTIClass() const { return RegisterClass(); }
Entity* VectorEnvelopeTemplate::CreateEntity() { return new VectorEnvelopeEntity(); }

ColorEnvelopeTemplate::ColorEnvelopeTemplate() {
    typeId = ENTITY_COLOR_ENVELOPE;
    envelope.SetConstantValue(HDRColor(255, 255, 255, 255, 1.0f));
}

const RTTIClass* ColorEnvelopeTemplate::RegisterClass() {
    if (gColorEnvelopeTemplateClass) return gColorEnvelopeTemplateClass;
    EntityTemplate::RegisterClass();
    TEnvelope<HDRColor>::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gColorEnvelopeTemplateClass, "ColorEnvelopeTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new ColorEnvelopeTemplate(); });
    c->AddProperty(new RTTIEmbeddedObjectProperty<TEnvelope<HDRColor>>(
        "Envelope", RTTI_OFFSETOF(ColorEnvelopeTemplate, envelope)));
    return c;
}

const RTTIClass* ColorEnvelopeTemplate::GetRTTIClass() const { return RegisterClass(); }
Entity* ColorEnvelopeTemplate::CreateEntity() { return new ColorEnvelopeEntity(); }

const RTTIClass* VectorEnvelopeEntity::RegisterClass() {
    if (gVectorEnvelopeEntityClass) return gVectorEnvelopeEntityClass;
    Entity::RegisterClass();
    return CreateRegisteredClass(gVectorEnvelopeEntityClass, "VectorEnvelopeEntity", "Entity");
}

const RTTIClass* VectorEnvelopeEntity::GetRTTIClass() const { return RegisterClass(); }

void VectorEnvelopeEntity::RefreshAfterChange() {
    Entity::RefreshAfterChange();
    state.Reset();
}

const RTTIClass* ColorEnvelopeEntity::RegisterClass() {
    if (gColorEnvelopeEntityClass) return gColorEnvelopeEntityClass;
    Entity::RegisterClass();
    return CreateRegisteredClass(gColorEnvelopeEntityClass, "ColorEnvelopeEntity", "Entity");
}

const RTTIClass* ColorEnvelopeEntity::GetRTTIClass() const { return RegisterClass(); }

void ColorEnvelopeEntity::RefreshAfterChange() {
    Entity::RefreshAfterChange();
    state.Reset();
}

bool ColorEnvelopeEntity::Advance(float seconds) {
    const auto* t = dynamic_cast<const ColorEnvelopeTemplate*>(GetTemplate());
    return t ? t->envelope.Advance(state, seconds) : true;
}

void ColorEnvelopeEntity::GetLinearColor(Vector& out) const {
    HDRColor colour(255, 255, 255, 255, 1.0f);
    if (const auto* t = dynamic_cast<const ColorEnvelopeTemplate*>(GetTemplate())) t->envelope.Evaluate(state, colour);
    out = colour.ToLinearVector();
}
