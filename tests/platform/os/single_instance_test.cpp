// The single-instance lock between real processes: a second start reports another
// instance and raises the first, foreign datagrams change nothing, a killed holder
// frees the lock, and the user data folder serves when there is no runtime folder.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/os/SingleInstance.h"

using Result = os::SingleInstance::Result;

namespace {

constexpr int kTimeoutMs = 10000;

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {  // a scratch runtime folder: no real instance is disturbed
        char pattern[] = "/tmp/single_instance_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        setenv("XDG_RUNTIME_DIR", pattern, 1);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string folder;
};

// A forked process holding the lock of key: it writes one byte to ready once it holds it and then waits to be killed.
pid_t StartHolder(const char* key, int ready) {
    const pid_t pid = fork();
    if (pid == 0) {
        os::SingleInstance instance;
        if (instance.Acquire(key) == Result::First && write(ready, "r", 1) == 1) pause();
        _exit(instance.IsHeld() ? 0 : 2);
    }
    return pid;
}

// A forked second start; its exit status (0: it found another instance), -1 when it outlives the time-out.
int StartSecond(const char* key, const std::function<void()>& meanwhile = {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(kTimeoutMs / 1000);  // a hung start ends here instead of hanging the test
        _exit(os::SingleInstance().Acquire(key) == Result::Another ? 0 : 2);
    }
    if (meanwhile) meanwhile();
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool AwaitRaise(os::SingleInstance& instance) {
    for (int waited = 0; waited < kTimeoutMs; waited += 5) {
        if (instance.TakeRaiseRequest()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST_F(SingleInstanceTest, SecondStartRaisesTheFirstAndForeignDatagramsChangeNothing) {
    os::SingleInstance holder;
    ASSERT_EQ(holder.Acquire("ExactKey"), Result::First);
    char exact[128];
    uint32_t length = 0;
    ASSERT_TRUE(os::SingleInstance::FormatRaiseRequest("ExactKey", exact, sizeof exact, &length));
    const std::string request(exact, length);
    const std::string foreign[] = {"",  "raise", request.substr(0, length - 1), request + "\n", request + '\0',
                                   "raise OtherKey", request + std::string(400, 'x')};
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, holder.SocketPath());
    const int s = socket(AF_UNIX, SOCK_DGRAM, 0);
    for (const std::string& d : foreign)
        EXPECT_EQ(sendto(s, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address), ssize_t(d.size()));
    close(s);
    EXPECT_FALSE(holder.TakeRaiseRequest());
    EXPECT_TRUE(holder.IsHeld());

    // The request waits for a socket not bound yet (moved aside for a moment here).
    const std::string path = holder.SocketPath(), aside = path + "~";
    ASSERT_EQ(std::rename(path.c_str(), aside.c_str()), 0);
    EXPECT_EQ(StartSecond("ExactKey", [&] { usleep(100000), std::rename(aside.c_str(), path.c_str()); }), 0);
    EXPECT_TRUE(AwaitRaise(holder));
    EXPECT_FALSE(holder.TakeRaiseRequest());  // consumed
    EXPECT_EQ(os::SingleInstance().Acquire("OtherKey"), Result::First);

    // A socket path taken by a folder leaves the lock alone working, and no handle behind.
    auto handles = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    std::filesystem::create_directory(folder + "/FolderKey." + std::to_string(getuid()) + ".sock");
    const auto before = handles();
    os::SingleInstance lockOnly;
    EXPECT_TRUE(lockOnly.Acquire("FolderKey") == Result::First && lockOnly.SocketPath()[0] == 0);
    EXPECT_EQ(handles(), before + 1);
}

TEST_F(SingleInstanceTest, KilledHolderFreesTheLockAndItsSocketIsReplaced) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t crashed = StartHolder("CrashKey", fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    char c;
    const bool ready = poll(&p, 1, kTimeoutMs) == 1 && read(fds[0], &c, 1) == 1;
    kill(crashed, SIGKILL);
    waitpid(crashed, nullptr, 0);
    close(fds[0]);
    close(fds[1]);
    ASSERT_TRUE(ready);
    os::SingleInstance next;
    ASSERT_EQ(next.Acquire("CrashKey"), Result::First);
    EXPECT_EQ(StartSecond("CrashKey"), 0);
    EXPECT_TRUE(AwaitRaise(next));
    const std::string socketPath = next.SocketPath();
    const std::string lockPath = folder + "/CrashKey." + std::to_string(getuid()) + ".lock";
    EXPECT_TRUE(std::filesystem::exists(lockPath));
    next.Release();
    // A clean exit leaves nothing behind, and the next start holds a lock of its own.
    EXPECT_FALSE(std::filesystem::exists(socketPath));
    EXPECT_FALSE(std::filesystem::exists(lockPath));
    os::SingleInstance again;
    EXPECT_EQ(again.Acquire("CrashKey"), Result::First);
    EXPECT_EQ(StartSecond("CrashKey"), 0);
}

TEST_F(SingleInstanceTest, UserDataFolderServesWithoutARuntimeFolder) {
    unsetenv("XDG_RUNTIME_DIR");
    const char* previous = std::getenv("XDG_DATA_HOME");
    const std::string saved = previous ? previous : "", data = folder + "/home/share";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    os::SingleInstance instance;
    EXPECT_EQ(instance.Acquire("DataKey"), Result::First);
    EXPECT_EQ(std::filesystem::path(instance.SocketPath()).parent_path(), data);
    previous ? setenv("XDG_DATA_HOME", saved.c_str(), 1) : unsetenv("XDG_DATA_HOME");
    for (const char* bad : {"", "a/b", ".."}) EXPECT_EQ(os::SingleInstance().Acquire(bad), Result::Unavailable) << bad;
}

}  // namespace
