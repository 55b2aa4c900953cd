#pragma once
// TemplateResourceServices: what the resource manager needs of the entity templates,
// which live above this library: the Resource part of a template object the template
// pool created by class name, and the preload of a resource list's "Templates" entries.
// The engine installs the implementation when it creates its entity manager; until then
// (and after SetTemplateResourceServices(nullptr)) no object has a Resource part (the
// pool logs that the resource was not created) and there is no template registry (a
// list's template entries are skipped with one line).
//
// Threads: called on the thread that makes a resource (the loader's or the main thread);
// installed on the main thread.
class Resource;
class RTTIPolyBaseClass;

class TemplateResourceServices {
public:
    virtual ~TemplateResourceServices() = default;

    // Whether a template registry answers PreloadTemplate.
    virtual bool HasTemplateRegistry() const { return false; }
    // The Resource part of an object created by class name; null when it is not a template.
    virtual Resource* ResourcePart(RTTIPolyBaseClass* object) { return nullptr; }
    // Loads the template by its name (without the "templates/" prefix) and drops the use.
    virtual void PreloadTemplate(const char* templateName) {}
};

TemplateResourceServices& GetTemplateResourceServices();
// Not owned; null restores the default.
void SetTemplateResourceServices(TemplateResourceServices* services);
