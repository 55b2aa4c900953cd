// The readiness poller and non-blocking TCP connections: names and numbers resolved,
// connections made and refused, readiness reported with each socket's tag and only for
// sockets still watched, and messages of the online layer carried through them.
#include "platform/online/OnlineMessages.h"
#include "platform/online/OnlinePoller.h"
#include "platform/online/OnlineSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <string>
#include <vector>

using namespace online;

namespace {

// Waits up to a second for an event of tag; false without one.
bool WaitFor(SocketPoller& poller, uint32_t tag, bool writable, SocketPoller::Event* got = nullptr) {
    std::vector<SocketPoller::Event> events(8);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < end) {
        const size_t n = poller.Wait(events, 50);
        for (size_t i = 0; i < n; ++i)
            if (events[i].tag == tag && (writable ? events[i].writable : events[i].readable)) {
                if (got) *got = events[i];
                return true;
            }
    }
    return false;
}

TEST(SocketPoller, ResolvesNamesAndNumbersAndRefusesTheRest) {
    struct Case {
        const char* host;
        bool resolves;
    } cases[] = {{"127.0.0.1", true}, {"localhost", true}, {"[::1]", true}, {"no-such-host.invalid", false}};
    for (const Case& c : cases) {
        TcpAddress a;
        std::string error;
        EXPECT_EQ(ResolveTcpAddress(c.host, 9, &a, &error), c.resolves) << c.host << ": " << error;
        EXPECT_EQ(a.size > 0, c.resolves) << c.host;
        if (!c.resolves) {
            EXPECT_NE(error.find(c.host), std::string::npos) << error;
        }
    }
}

TEST(SocketPoller, ConnectsByNameCarriesFramesAndForgetsRemovedSockets) {
    TcpListener listener;
    TcpEndpoint endpoint;
    ASSERT_TRUE(ParseListenAddress("0", &endpoint));
    std::string error;
    ASSERT_TRUE(listener.Open(endpoint, &error)) << error;
    TcpAddress address;
    ASSERT_TRUE(ResolveTcpAddress("localhost", listener.Bound().port, &address, &error)) << error;

    SocketPoller poller;
    ASSERT_TRUE(poller.Ok());
    const SocketHandle client = ConnectTcpNonBlocking(address);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(poller.Add(client, 41, true));
    ASSERT_TRUE(WaitFor(poller, 41, true)) << "the connection never turned writable";
    EXPECT_EQ(ConnectionError(client), 0);
    SocketHandle server = -1;
    std::string peer;
    for (int i = 0; i < 100 && listener.AcceptOne(&server, &peer) != BrokerListener::Accept::Connection; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(server, 0);

    // A peer frame from the server side arrives whole at the client, tagged.
    ASSERT_TRUE(poller.Change(client, 41, false));
    const uint8_t payload[3] = {7, 8, 9};
    wire::Writer w = wire::EncodePeerFrame(wire::kP2PPacket, {12345, false, 2, payload, 3});
    const std::vector<uint8_t>& frame = w.Frame();
    ASSERT_EQ(SocketSend(server, frame.data(), frame.size()), static_cast<long>(frame.size()));
    SocketPoller::Event event;
    ASSERT_TRUE(WaitFor(poller, 41, false, &event));
    EXPECT_FALSE(event.writable) << "write interest was dropped";
    uint8_t buffer[256];
    const long n = SocketReceive(client, buffer, sizeof buffer);
    ASSERT_EQ(n, static_cast<long>(frame.size()));
    wire::FrameSplitter splitter;
    std::vector<uint8_t> body;
    ASSERT_TRUE(splitter.Push(buffer, static_cast<size_t>(n)));
    ASSERT_TRUE(splitter.Next(body));
    wire::Reader r(body.data(), body.size());
    wire::PeerFrame got;
    ASSERT_TRUE(wire::ReadPeerFrame(r, &got));
    EXPECT_EQ(got.peer, 12345u);
    EXPECT_EQ(got.channel, 2);
    ASSERT_EQ(got.size, 3u);
    EXPECT_EQ(got.data[2], 9);

    // A removed socket reports nothing, even when its peer closes.
    poller.Remove(client);
    SocketClose(server);
    EXPECT_FALSE(WaitFor(poller, 41, false));
    SocketClose(client);
}

TEST(SocketPoller, ARefusedConnectionTellsItsError) {
    // A port just released: nobody listens there.
    uint16_t port = 0;
    {
        TcpListener listener;
        TcpEndpoint endpoint;
        ASSERT_TRUE(ParseListenAddress("0", &endpoint));
        std::string error;
        ASSERT_TRUE(listener.Open(endpoint, &error)) << error;
        port = listener.Bound().port;
    }
    TcpAddress address;
    std::string error;
    ASSERT_TRUE(ResolveTcpAddress("127.0.0.1", port, &address, &error));
    SocketPoller poller;
    const SocketHandle client = ConnectTcpNonBlocking(address);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(poller.Add(client, 5, true));
    ASSERT_TRUE(WaitFor(poller, 5, false));
    EXPECT_NE(ConnectionError(client), 0);
    SocketClose(client);
}

}  // namespace
