#include "platform/os/SharedLibrary.h"

#include <dlfcn.h>

namespace os {

void* OpenSharedLibrary(const char* fileName) { return fileName ? dlopen(fileName, RTLD_NOW | RTLD_LOCAL) : nullptr; }

void* FindSharedSymbol(void* library, const char* name) { return library && name ? dlsym(library, name) : nullptr; }

void CloseSharedLibrary(void* library) {
    if (library) dlclose(library);
}

}  // namespace os
