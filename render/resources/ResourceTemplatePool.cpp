#include "render/resources/ResourceTemplatePool.h"

#include "core/Log.h"
#include "core/rtti/RTTIClass.h"
#include "render/resources/Resource.h"
#include "render/resources/TemplateResourceServices.h"

Resource* ResourceTemplatePool::CreateResource(const char* name, uint32_t typeRow) {
    if (!name) return nullptr;
    const char* className = typeRow < TemplateTypeTable::kRows ? TemplateTypeTable::Get()[typeRow].name : nullptr;
    RTTIPolyBaseClass* object = className ? NameRegistry::CreateObject(className) : nullptr;
    Resource* part = object ? GetTemplateResourceServices().ResourcePart(object) : nullptr;
    if (!part) {
        delete object;
        gLog.Error(LogCategory::RenderDevice, "Resource of name %s not created!", name);
        return nullptr;
    }
    part->SetName(name);
    return part;
}
