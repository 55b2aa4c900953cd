#include "engine/services/OptionalLibrary.h"

#include <cstdio>
#include <cstring>

#include "core/Dynarray.h"
#include "platform/os/Paths.h"
#include "platform/os/SharedLibrary.h"

namespace optlib {

void* OpenOptionalLibrary(const char* dllName) {
    if (!dllName || !dllName[0]) return nullptr;
    size_t stem = std::strlen(dllName);
    if (stem > 4 && CompareNoCase(dllName + stem - 4, ".dll") == 0) stem -= 4;
    char fileName[256];
    const int n = std::snprintf(fileName, sizeof fileName, "lib%.*s.so", static_cast<int>(stem), dllName);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof fileName || std::strchr(fileName, '/')) return nullptr;
    char folder[4096];
    char path[4096 + 256];
    if (os::GetExecutableFolder(folder, sizeof folder)) {
        std::snprintf(path, sizeof path, "%s/%s", folder, fileName);
        if (void* library = os::OpenSharedLibrary(path)) return library;
    }
    return os::OpenSharedLibrary(fileName);  // a bare name: the system's search path
}

}  // namespace optlib
