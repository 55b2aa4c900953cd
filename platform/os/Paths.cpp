#include "platform/os/Paths.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace os {

namespace {

// Copies text without trailing separators; false (buffer emptied) when it does not fit.
bool CopyFolder(const char* text, size_t length, char* buffer, size_t size) {
    while (length > 1 && text[length - 1] == '/') --length;
    if (!buffer || size == 0) return false;
    buffer[0] = 0;
    if (length == 0 || length + 1 > size) return false;
    std::memcpy(buffer, text, length);
    buffer[length] = 0;
    return true;
}

}  // namespace

bool GetExecutableFolder(char* buffer, size_t size) {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof path - 1) {
        if (buffer && size) buffer[0] = 0;
        return false;
    }
    path[n] = 0;
    char* slash = std::strrchr(path, '/');
    if (!slash) {
        if (buffer && size) buffer[0] = 0;
        return false;
    }
    const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
    return CopyFolder(path, length, buffer, size);
}

bool GetUserDataFolder(char* buffer, size_t size) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return CopyFolder(xdg, std::strlen(xdg), buffer, size);
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        if (buffer && size) buffer[0] = 0;
        return false;
    }
    char path[4096];
    const size_t hn = std::strlen(home);
    static const char kSuffix[] = "/.local/share";
    if (hn + sizeof kSuffix > sizeof path) {
        if (buffer && size) buffer[0] = 0;
        return false;
    }
    std::memcpy(path, home, hn);
    size_t length = hn;
    while (length > 1 && path[length - 1] == '/') --length;
    if (length == 1) length = 0;  // HOME of "/"
    std::memcpy(path + length, kSuffix, sizeof kSuffix);
    return CopyFolder(path, length + sizeof kSuffix - 1, buffer, size);
}

}  // namespace os
