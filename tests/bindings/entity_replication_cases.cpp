// test-sanitize: address
// A replicated property a script declares through the entity package, carried to a
// proxy as the entity records carry it: the authority's container packs its fields, the
// packed fields cross a loopback driver pair as one frame, and the proxy's container
// reads them as a creating record does.
#include <gtest/gtest.h>

#include <lua.hpp>

#include <cstring>
#include <vector>

#include "BindingsFixture.h"
#include "core/BitStream.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/MPProperty.h"
#include "net/LoopbackNetDriver.h"

namespace {

// Connects the two endpoints and keeps the frames endpoint 1 receives.
class Receiver : public Network::NetDriverObserver {
public:
    explicit Receiver(LoopbackNetDriver* driver) : driver(driver) { driver->SetObserver(this); }
    void OnDriverListening() override {}
    void OnPeerConnecting(int32_t peer) override { driver->Answer(peer, true); }
    void OnPeerConnected(int32_t) override { connected = true; }
    void OnPeerDisconnected(int32_t, uint32_t) override {}
    void OnReceive(int32_t, const uint8_t* data, uint32_t length, uint32_t) override {
        frames.emplace_back(data, data + length);
    }
    void OnPeerConnectionStall(int32_t) override {}
    void OnPeerConnectionResume(int32_t) override {}
    void OnChatMessage(uint32_t, const char16_t*, const char16_t*) override {}
    void OnLobbyUpdated() override {}
    void OnLobbyJoinRequested() override {}
    void OnLobbyGameStartRequest(uint32_t, bool, bool) override {}
    void OnLobbyError(uint32_t) override {}

    LoopbackNetDriver* driver;
    bool connected = false;
    std::vector<std::vector<uint8_t>> frames;
};

class EntityReplicationTest : public BindingsTest {
protected:
    void SetUp() override {
        BindingsTest::SetUp();
        gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        entityTemplate.SetName("replicated");
        for (const char* name : {"host", "proxy"}) {
            Entity* e = gEntityManager->CreateEntityFromTemplate(&entityTemplate, nullptr, Matrix::IDENTITY, 0, nullptr);
            ASSERT_NE(e, nullptr);
            e->CreateMPProperties();
            gLua.PushObject(e);
            lua_setglobal(L(), name);
        }
    }
    void TearDown() override {
        BindingsTest::TearDown();
        gEntityManager->NewScene();
    }
    // The entity a script global holds.
    Entity* Global(const char* name) {
        lua_getglobal(L(), name);
        void* block = lua_touserdata(L(), -1);
        lua_pop(L(), 1);
        return block ? *static_cast<Entity**>(block) : nullptr;
    }
    EntityTemplate entityTemplate;
};

TEST_F(EntityReplicationTest, AVectorDeclaredByAScriptReachesTheProxy) {
    // Both sides declare the property as a script's InitMPProperties does: after the
    // three standard properties, as a number.
    ASSERT_EQ(Values("goal = host:MPPropAddVec(Vector:Instance(1, 2, 3), MPPROPTYPE_VEC_POS, 0, 'Goal') "
                     "return type(goal), goal"),
              "number 3");
    ASSERT_EQ(Values("return proxy:MPPropAddVec(Vector:Instance(0, 0, 0), MPPROPTYPE_VEC_POS, 0, 'Goal')"), "3");

    LoopbackLink link;
    LoopbackNetDriver* hostDriver = link.Endpoint(0);
    LoopbackNetDriver* proxyDriver = link.Endpoint(1);
    Receiver hostSide(hostDriver), proxySide(proxyDriver);
    hostDriver->Listen(1000);
    proxyDriver->Connect("host", 1000, 0);
    for (int i = 0; i < 8 && !(hostSide.connected && proxySide.connected); ++i) {
        hostDriver->Tick();
        proxyDriver->Tick();
    }
    ASSERT_TRUE(hostSide.connected && proxySide.connected);

    // The authority's fields, packed bit after bit as an entity record carries them (the
    // count of bits first), sent as one frame.
    MPFieldBuffer fields;
    uint64_t snap = 0, relevant = 0;
    Global("host")->MPPropSerialize(fields, snap, relevant);
    ASSERT_EQ(fields.fieldCount, 4u);
    std::vector<uint8_t> frame(4 + kMPFieldBufferBytes + BitWriter::kSlackBytes, 0);
    BitWriter writer(frame.data() + 4, kMPFieldBufferBytes * 8);
    for (uint32_t i = 0; i < fields.fieldCount; ++i)
        ASSERT_TRUE(writer.WriteValue(fields.FieldValue(i), fields.bitLengths[i]));
    const uint32_t bits = writer.BitCount();
    std::memcpy(frame.data(), &bits, 4);
    frame.resize(4 + writer.ByteCount());
    hostDriver->Send(1, frame.data(), uint32_t(frame.size()), 0);
    for (int i = 0; i < 4 && proxySide.frames.empty(); ++i) proxyDriver->Tick();
    ASSERT_EQ(proxySide.frames.size(), 1u);
    ASSERT_EQ(proxySide.frames[0], frame);

    // The proxy reads them as a record that creates the entity.
    MPFieldBuffer received;
    std::memcpy(&received.totalBits, proxySide.frames[0].data(), 4);
    received.bytesUsed = uint32_t(proxySide.frames[0].size() - 4);
    std::memcpy(received.data, proxySide.frames[0].data() + 4, received.bytesUsed);
    ASSERT_TRUE(Global("proxy")->MPPropDeserialize(received, (uint64_t(1) << fields.fieldCount) - 1, snap, 1, true));
    EXPECT_EQ(Eval("proxy:MPPropGetType(goal)"), "8");
    // Within the encoding's step of the box (200 units in 65535).
    EXPECT_EQ(Values("local v = proxy:MPPropGetVec(goal) return math.floor(v.x * 100 + 0.5), "
                     "math.floor(v.y * 100 + 0.5), math.floor(v.z * 100 + 0.5)"),
              "100 200 300");
}

}  // namespace
