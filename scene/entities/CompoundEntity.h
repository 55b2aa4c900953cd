#pragma once
// Compounds: a CompoundTemplate lists elements (a name, a template name, a location matrix,
// a shader preset and child elements); a CompoundEntity made from it creates one child
// entity per element, recursively, when it is initialised from its template. Element
// entities carry ENTITYFLAG_COMPOUNDELEMENT and are named "~" + the element name; every
// walk over elements looks only at flagged children.
//
// The template resolves its elements' templates (counted references) when it loads and
// when its properties change; a change keeps the element array, takes the templates
// again and rebuilds the elements of every live compound entity of this template.
//
// Main thread, except CompoundTemplate::LoadResource, which runs where the template loads.
#include <cstdint>
#include <vector>

#include "core/Dynarray.h"
#include "core/math/BoundingBox4.h"
#include "core/math/HDRColor.h"
#include "core/math/Matrix.h"
#include "core/text/NameString.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"
#include "render/scene/LightmapMapping.h"

class RTTIClass;

// Entity flag that keeps a compound entity from creating its elements (set by the game
// layer for compounds whose elements come from elsewhere).
constexpr uint32_t kCompoundSuppressElements = 0x20000000u;
// Element names are cut to this many characters (the "~" included).
constexpr uint32_t kCompoundMaxElementName = 1023;

// One element of "Elements". Copies take their own reference on the resolved template.
struct CompoundTemplateElement {
    CompoundTemplateElement() = default;
    CompoundTemplateElement(const CompoundTemplateElement& o);
    CompoundTemplateElement(CompoundTemplateElement&& o) noexcept;
    CompoundTemplateElement& operator=(const CompoundTemplateElement& o);
    ~CompoundTemplateElement();

    static const RTTIClass* RegisterClass();
    // Releases the reference held now and takes one on t (null clears it).
    void SetTemplate(EntityTemplate* t);

    NameString name;                   // "Name"
    NameString templateName;           // "Template name"
    NameString shaderPreset;           // "Shader preset"
    Matrix locationMatrix;             // "Location matrix"
    DynarraySafe<CompoundTemplateElement> children;  // "Children"
    EntityTemplate* entityTemplate = nullptr;         // runtime: counted reference
};

class CompoundTemplate : public EntityTemplate {
public:
    CompoundTemplate();
    ~CompoundTemplate() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // The base notification, the element templates taken again, the entities rebuilt.
    void OnPropertyChanged(const char* propertyName) override;
    const char* GetClassName() const override { return "CompoundTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "CompoundEntity"; }
    // PropagateToElementTemplates.
    void PreloadReferencedResources() override { PropagateToElementTemplates(); }
    void QueueRequest(uint32_t argument) override;
    // Each element depth first with its matrix composed onto the incoming one; true when
    // any element template drew.
    bool DrawHelper(const Matrix& m, const Vector& colour, uint32_t flags, const char* presetName) override;
    bool DrawHelperParts(const Matrix& m, uint32_t flags);
    bool LoadResource() override;

    // Takes every element's template again by name (loading it when needed) and grows the
    // "Static bounding box" from them; the previous box stays when none resolves.
    void ResolveElementTemplates();
    // Drops the whole element array (then resolves, which finds nothing).
    void ClearElements();
    // Destroys and recreates the elements of every live compound entity of this template.
    void RebuildEntities();
    void PropagateToElementTemplates();
    // The element's and all its descendants' templates, breadth first (nulls included).
    static void CollectElementTemplates(const CompoundTemplateElement& element, std::vector<EntityTemplate*>& out);

    char* definition = nullptr;  // "Definition"
    DynarraySafe<CompoundTemplateElement> elements;  // "Elements"

private:
    // The walk of LoadResource and ResolveElementTemplates: find or acquire each element's
    // template and grow the box under the element's matrix composed with its parents'.
    void ResolveAll(bool acquire);
};

class CompoundEntity : public Entity {
public:
    CompoundEntity();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    HDRColor GetColor() const override { return localColor; }
    // RebuildElements: the base refresh, then the elements destroyed and made again.
    void OnPropertyChanged(const char* propertyName) override;
    void OnLoaded(uint32_t options) override;
    void OnPostLoad() override { RefreshElementIdentity(); }
    void InitFromTemplate(EntityTemplate* t, uint32_t creationFlags) override;
    void SetLayer(uint8_t layerId) override;
    void InitTriggerActivation() override;
    void DrawHelpers(uint32_t flags) override;
    void OnLayerApplied() override;
    void DrawBoundingBox(const BoundingBox4& box, const HDRColor& color) override;

    void RebuildElements();
    // The union of the element children's boxes under their local matrices; stored (and
    // the global matrices pushed down) only when an element exists.
    void UpdateLocalBoundingBox();
    // Element descendants without a GUID get one and a new rendering context; mesh
    // elements take "Local color".
    void RefreshElementIdentity();
    // Once per life of the element set; nothing under kCompoundSuppressElements.
    void CreateElements(uint32_t creationFlags);
    void CreateElementEntities(const DynarraySafe<CompoundTemplateElement>& list, Entity* parent,
                               uint32_t creationFlags);
    void DestroyElements();
    bool ElementsCreated() const { return elementsCreated; }
    // "Local bounding box": the entity's own local box.
    BoundingBox4 LocalBox() const { return GetLocalBoundingBox(); }
    void SetLocalBox(const BoundingBox4& box) { SetLocalBoundingBox(box); }

    HDRColor localColor{255, 255, 255, 255, 1.0f};     // "Local color"
    DynarraySafe<LightmapMapping> elementLightmaps;    // "ElemLmMappingArr"

private:
    // Every flagged descendant, breadth first over all descendants.
    template <class F>
    void ForEachElementDescendant(F&& f);
    // The union of the flagged direct children's boxes; false when none exists.
    bool ElementChildrenBox(BoundingBox4& out) const;

    bool elementsCreated = false;
};
