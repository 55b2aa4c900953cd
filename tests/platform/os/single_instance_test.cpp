// The single-instance lock between real processes: the second start reports another
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

namespace stdfs = std::filesystem;
using Result = os::SingleInstance::Result;

namespace {

constexpr int kTimeoutMs = 10000;

// A scratch runtime folder for each test, so no real instance is disturbed.
class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/single_instance_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    }
    void TearDown() override { stdfs::remove_all(folder); }
    std::string folder;
};

// A forked helper process running body; its exit status is body's result. Killed
// (and counted as -1) when it outlives the time-out.
class Helper {
public:
    explicit Helper(const std::function<int(int readyFd)>& body) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            _exit(body(fds[1]));
        }
        close(fds[1]);
        ready = fds[0];
    }
    ~Helper() {
        if (pid > 0) Stop(SIGKILL);
        if (ready >= 0) close(ready);
    }
    // Waits for the helper's one-byte signal.
    bool WaitReady() {
        pollfd p{ready, POLLIN, 0};
        char c;
        return poll(&p, 1, kTimeoutMs) == 1 && read(ready, &c, 1) == 1;
    }
    int Wait() {
        for (int waited = 0; pid > 0 && waited < kTimeoutMs; waited += 5) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Stop(SIGKILL);
        return -1;
    }
    void Stop(int signal) {
        if (pid <= 0) return;
        kill(pid, signal);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }

private:
    pid_t pid = -1;
    int ready = -1;
};

void Signal(int fd) { (void)!write(fd, "r", 1); }

bool AwaitRaise(os::SingleInstance& instance) {
    for (int waited = 0; waited < kTimeoutMs; waited += 5) {
        if (instance.TakeRaiseRequest()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void SendDatagram(const char* path, const void* data, size_t size) {
    const int s = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path);
    EXPECT_EQ(sendto(s, data, size, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address),
              static_cast<ssize_t>(size));
    close(s);
}

TEST_F(SingleInstanceTest, SecondStartReportsAnotherAndRaisesTheFirst) {
    Helper first([](int readyFd) {
        os::SingleInstance instance;
        if (instance.Acquire("RaiseKey") != Result::First) return 2;
        Signal(readyFd);
        return AwaitRaise(instance) ? 0 : 3;
    });
    ASSERT_TRUE(first.WaitReady());
    os::SingleInstance second;
    EXPECT_EQ(second.Acquire("RaiseKey"), Result::Another);
    EXPECT_FALSE(second.IsHeld());
    EXPECT_EQ(first.Wait(), 0);
    // Another key, or the same key once the first has ended, is free.
    os::SingleInstance other;
    EXPECT_EQ(other.Acquire("OtherKey"), Result::First);
    EXPECT_EQ(second.Acquire("RaiseKey"), Result::First);
}

TEST_F(SingleInstanceTest, OnlyTheExactRequestRaises) {
    os::SingleInstance holder;
    ASSERT_EQ(holder.Acquire("ExactKey"), Result::First);
    const std::string path = holder.SocketPath();
    ASSERT_FALSE(path.empty());
    char exact[128];
    uint32_t length = 0;
    ASSERT_TRUE(os::SingleInstance::FormatRaiseRequest("ExactKey", exact, sizeof exact, &length));
    const std::string request(exact, length);
    const std::string oversized = request + std::string(400, 'x');
    const std::string foreign[] = {"", "raise", request.substr(0, length - 1), request + "\n", request + '\0',
                                   "raise OtherKey", "RAISE ExactKey", oversized};
    for (const std::string& datagram : foreign) SendDatagram(path.c_str(), datagram.data(), datagram.size());
    EXPECT_FALSE(holder.TakeRaiseRequest());
    EXPECT_TRUE(holder.IsHeld());

    Helper second([](int) {
        os::SingleInstance instance;
        return instance.Acquire("ExactKey") == Result::Another ? 0 : 2;
    });
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_TRUE(AwaitRaise(holder));
    EXPECT_FALSE(holder.TakeRaiseRequest());  // consumed
}

TEST_F(SingleInstanceTest, KilledHolderFreesTheLockAndItsSocketIsReplaced) {
    Helper crashed([](int readyFd) {
        os::SingleInstance instance;
        if (instance.Acquire("CrashKey") != Result::First) return 2;
        Signal(readyFd);
        pause();
        return 0;
    });
    ASSERT_TRUE(crashed.WaitReady());
    crashed.Stop(SIGKILL);
    os::SingleInstance next;
    ASSERT_EQ(next.Acquire("CrashKey"), Result::First);
    Helper second([](int) {
        os::SingleInstance instance;
        return instance.Acquire("CrashKey") == Result::Another ? 0 : 2;
    });
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_TRUE(AwaitRaise(next));
    const std::string socketPath = next.SocketPath();
    next.Release();
    EXPECT_FALSE(stdfs::exists(socketPath));
}

TEST_F(SingleInstanceTest, UserDataFolderServesWithoutARuntimeFolder) {
    unsetenv("XDG_RUNTIME_DIR");
    const char* previous = std::getenv("XDG_DATA_HOME");
    const std::string saved = previous ? previous : "";
    const std::string data = folder + "/home/share";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    os::SingleInstance instance;
    EXPECT_EQ(instance.Acquire("DataKey"), Result::First);
    EXPECT_EQ(stdfs::path(instance.SocketPath()).parent_path(), data);
    if (previous) setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else unsetenv("XDG_DATA_HOME");
    for (const char* bad : std::initializer_list<const char*>{"", "a/b", "..", nullptr})
        EXPECT_EQ(os::SingleInstance().Acquire(bad), Result::Unavailable) << (bad ? bad : "null");
}

}  // namespace
