#include "platform/os/SingleInstance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os/Paths.h"

namespace os {

namespace {

constexpr uint32_t kMaxKey = 64;
// A second start may find the lock taken before the holder has bound its socket.
constexpr int kSendAttempts = 100;
// Lock files removed under a starting process before it held them: tries before giving up.
constexpr int kLockAttempts = 16;
constexpr long kSendRetryNs = 10'000'000;  // 10 ms, so about one second in all

bool ValidKey(const char* key) {
    if (!key || !key[0]) return false;
    const size_t n = std::strlen(key);
    return n <= kMaxKey && !std::strchr(key, '/') && std::strcmp(key, ".") != 0 && std::strcmp(key, "..") != 0;
}

// Creates every missing level of an absolute folder (0700, as a per-user folder).
bool MakeFolders(const char* folder) {
    char path[4096];
    const size_t n = std::strlen(folder);
    if (n == 0 || n >= sizeof path) return false;
    std::memcpy(path, folder, n + 1);
    for (size_t i = 1; i <= n; ++i) {
        if (path[i] != '/' && path[i] != 0) continue;
        const char saved = path[i];
        path[i] = 0;
        if (mkdir(path, 0700) != 0 && errno != EEXIST) return false;
        path[i] = saved;
    }
    struct stat st;
    return stat(folder, &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder the lock lives in: the runtime folder, else the user data folder.
bool LockFolder(char* buffer, size_t size) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (runtime && runtime[0] == '/' && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
        const int n = std::snprintf(buffer, size, "%s", runtime);
        return n > 0 && static_cast<size_t>(n) < size;
    }
    return GetUserDataFolder(buffer, size) && MakeFolders(buffer);
}

bool SendRequest(const char* path, const char* key) {
    char request[128];
    uint32_t length = 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!SingleInstance::FormatRaiseRequest(key, request, sizeof request, &length) ||
        std::strlen(path) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path, std::strlen(path) + 1);
    const int s = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    bool sent = false;
    for (int attempt = 0; attempt < kSendAttempts && !sent; ++attempt) {
        if (sendto(s, request, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
            static_cast<ssize_t>(length)) {
            sent = true;
        } else if (errno == ECONNREFUSED || errno == ENOENT || errno == EAGAIN || errno == ENOBUFS) {
            timespec pause{0, kSendRetryNs};
            nanosleep(&pause, nullptr);
        } else {
            break;
        }
    }
    close(s);
    return sent;
}

}  // namespace

bool SingleInstance::FormatRaiseRequest(const char* key, char* buffer, uint32_t size, uint32_t* length) {
    if (!ValidKey(key) || !buffer) return false;
    const int n = std::snprintf(buffer, size, "raise %s", key);
    if (n <= 0 || static_cast<uint32_t>(n) >= size) return false;
    if (length) *length = static_cast<uint32_t>(n);
    return true;
}

SingleInstance::Result SingleInstance::Acquire(const char* requestedKey) {
    if (IsHeld()) return Result::First;
    if (!ValidKey(requestedKey)) return Result::Unavailable;
    char folder[4096];
    if (!LockFolder(folder, sizeof folder)) return Result::Unavailable;
    const unsigned uid = static_cast<unsigned>(getuid());
    char path[sizeof lockPath];
    char sockPath[4096 + 128];
    std::snprintf(path, sizeof path, "%s/%s.%u.lock", folder, requestedKey, uid);
    std::snprintf(sockPath, sizeof sockPath, "%s/%s.%u.sock", folder, requestedKey, uid);

    // The holder removes its lock file when it lets go, so a lock taken on a file that
    // was removed meanwhile holds nothing: take it again on the file the path names now.
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 || attempt == kLockAttempts) {
            if (fd >= 0) close(fd);
            return Result::Unavailable;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool taken = errno == EWOULDBLOCK;
            close(fd);
            if (!taken) return Result::Unavailable;
            SendRequest(sockPath, requestedKey);
            return Result::Another;
        }
        struct stat held, named;
        if (fstat(fd, &held) != 0 || stat(path, &named) != 0 || held.st_ino != named.st_ino ||
            held.st_dev != named.st_dev) {
            close(fd);
            fd = -1;
        }
    }
    lockFile = fd;
    std::memcpy(lockPath, path, sizeof lockPath);
    std::snprintf(key, sizeof key, "%s", requestedKey);

    // The socket: a path too long for a socket address leaves the holder without one
    // (the lock still works; raise requests then cannot arrive).
    if (std::strlen(sockPath) < sizeof socketPath) {
        unlink(sockPath);  // left by an instance that died; the lock makes this safe
        const int s = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, sockPath, std::strlen(sockPath) + 1);
        const int on = 1;
        if (s >= 0 && bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            chmod(sockPath, 0600) == 0 && setsockopt(s, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0) {
            socket = s;
            std::memcpy(socketPath, sockPath, std::strlen(sockPath) + 1);
        } else if (s >= 0) {
            close(s);
            unlink(sockPath);
        }
    }
    return Result::First;
}

bool SingleInstance::TakeRaiseRequest() {
    if (socket < 0) return false;
    char expected[128];
    uint32_t expectedLength = 0;
    if (!FormatRaiseRequest(key, expected, sizeof expected, &expectedLength)) return false;
    bool raised = false;
    for (;;) {
        char data[128];
        iovec part{data, sizeof data};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(socket, &message, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;  // nothing left (or the socket failed: no request either way)
        }
        bool sameUser = false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
                ucred credentials;
                std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
                sameUser = credentials.uid == getuid();
            }
        }
        if (sameUser && !(message.msg_flags & MSG_TRUNC) && static_cast<uint32_t>(n) == expectedLength &&
            std::memcmp(data, expected, expectedLength) == 0)
            raised = true;
    }
    return raised;
}

void SingleInstance::Release() {
    if (socket >= 0) {
        close(socket);
        socket = -1;
        if (lockFile >= 0) unlink(socketPath);
    }
    socketPath[0] = 0;
    if (lockFile >= 0) {
        unlink(lockPath);  // while still held: a start that opened it meanwhile sees it gone
        close(lockFile);   // drops the lock
        lockFile = -1;
    }
    lockPath[0] = 0;
    key[0] = 0;
}

}  // namespace os
