// mp_peer: one player of a two-process match, for the tests. It runs the engine headless
// (the program's libraries and start-up tables, the main window over the headless window
// layer and the recording device, no single-instance check) on the data folder given,
// with a harness game delegate that hands replicated method calls and properties to the
// script bridge as the game's delegate does; the engine signs in to the online services
// and makes its multiplayer engine over the online driver. It follows a plan from its
// command line and prints every delegate event as one JSON line on standard output.
//
//   mp_peer [--data DIR] [--broker HOST:PORT] [--create] [--invite] [--accept]
//           [--automatch TEAM MASK] [--ready] [--chat TEXT] [--leave-after-chat] [--stay S]
//           [--linger S] [--deadline S] [--delay-join S] [--on-ready METHOD] [--time-offset MS]
//           [--hostile-frames SECONDS --target ACCOUNT]
//           [--entities N --seed S] [--schedule FILE] [--dump FILE --dump-after S]
//           [--hostile S] [--rehost]
//   mp_peer --entities N --write-schedule FILE
//
// Identity and the broker come from the ONLINE_* settings (--broker overrides the
// address). --data names the engine's data folder (its "common/scripts/Main.lua", when
// there is one, runs at the game's start with the script class "Player" defined);
// --on-ready METHOD runs the script method METHOD on each player that becomes ready.
// --time-offset MS moves this process's network time by MS milliseconds, so the offset
// between two peers' clocks is known; the clock base line names it, and once the time
// sync has its ten samples a "time_sync" line gives the median difference. The plan: --create makes a friends-only lobby and, with --invite, invites
// until someone joins; --accept answers an invitation; --automatch searches instead;
// --ready readies once the lobby has two members; the game start request makes the
// squad player host and the other join; the host accepts the joining player; each side
// sends --chat in the game once connected; --leave-after-chat disconnects once the
// other's chat arrived, or --stay seconds after connecting; a host ends when its player
// left, a client --linger seconds after it left or was disconnected. --hostile-frames sends mutated frames of types 1 to 6 at 200 Hz to the
// host of the lobby's game for that long instead of joining. Entities: once its player
// is ready the host runs a schedule of timed steps on authority entities of four built-in
// templates, each template's script class declaring three properties of its own (every
// kind between them, entity references and animations too); the seed picks every value.
// --schedule FILE reads the steps, one JSON object a line in the form of the events:
//   {"t":MS,"event":"create","count":N}        N entities made (every fifth under the
//                                               one before it, every seventh owned by
//                                               the other player)
//   {"t":MS,"event":"move"}                    every property of a tenth of them set,
//                                               those under the scene root moved
//   {"t":MS,"event":"call"}                    two unreliable calls on entities the
//                                               other player owns ("ping_sent" here,
//                                               "ping" where it runs)
//   {"t":MS,"event":"animate"}                 every mesh starts a seeded looping clip
//                                               with a seeded pinned progress
//   {"t":MS,"event":"destroy","count":N}       N destroyed (their children with them)
//   {"t":MS,"event":"tear_off","count":N}      N torn off (their children too)
//   {"t":MS,"event":"create","count":N,"give":1}  N made, each after the first given to
//                                               the other player with a reliable call
//                                               ("mark_sent", "mark") naming the one
//                                               made before it
//   {"t":MS,"event":"chat","text":"TEXT"}      a line of game chat
// MS counts from the player's readiness; the steps run in the file's order, each once its
// time has come. Without --schedule, --entities N runs the default schedule, which
// --write-schedule FILE writes (and ends): N made, a move and a call every 100 ms for
// two seconds, the meshes animated at 1 s and 1.5 s, then at 2.5 s a tenth destroyed, a
// twentieth torn off and a tenth more made and given. When the data folder holds
// "mp_peer_mesh.bin" (a mesh block whose hierarchy has a "root" animation tree) and the
// animations "clip0" to "clip3", every fifth entity is a mesh whose root animation is
// replicated through its first two properties. --dump FILE writes, --dump-after seconds
// after connecting and, on a host, not before two seconds after its schedule's last step,
// on a client not before two seconds after the host's line of game chat saying it dumped
// (so that both dump the final state, whatever the machine's speed), one line per
// replicated entity: id, template GUID, parent id, 1 when the other player
// owns it on the host or this one on the client (else 0), and kind:quantised value of
// every property (an entity reference as its multiplayer id), then "torn N", the live
// torn-off entities of the plan; a mesh's line ends with m: and the index and loop bit of
// its root animation. --hostile S makes a client, for S seconds after it
// joined, send besides each of its game packets mutated copies of it as game packets
// and time-sync frames, 200 a second in all. --rehost makes a host whose player left (or
// was dropped) leave the game and its lobby, make a new lobby and run its lobby steps
// once more, keeping its entities; its dump after the second connection goes to FILE.2.
// A peer that dumps leaves by --stay only once it dumped, a host five seconds later, so
// that its client dumps first.
// Status 0 when the plan
// ran, 2 on a bad command line, when the engine or the sign-in failed or the engine
// ended on its own, 3 at the deadline (default 60 s).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "app/MainWindow.h"
#include "bindings/startup/BindingsStaticInit.h"
#include "core/BoundedReader.h"
#include "core/CrtRand.h"
#include "core/Log.h"
#include "core/StaticInit.h"
#include "core/config/CoreStaticInit.h"
#include "core/config/GameConfig.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "core/text/TextConversion.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/entity/MPProperty.h"
#include "engine/entity/ReplicationBridge.h"
#include "engine/services/EngineCore.h"
#include "engine/services/GameClock.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/script/LuaWrapper.h"
#include "engine/script/MPMethodCall.h"
#include "engine/startup/EngineStaticInit.h"
#include "game/GameStaticInit.h"
#include "net/MultiplayerEngine.h"
#include "net/NetStaticInit.h"
#include "net/Player.h"
#include "net/steam/SteamNetDriver.h"
#include "platform/gfx/GfxDevice.h"
#include "platform/online/Online.h"
#include "platform/online/OnlineSocket.h"
#include "platform/os/Clock.h"
#include "render/frame/RenderStaticInit.h"
#include "scene/animation/AnimationParams.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"
#include "sound/SoundStaticInit.h"

namespace {

struct EntityPlanTemplates;
EntityPlanTemplates& gPlanTemplates();
// One JSON line of an event on standard output.
void Event(const char* name, const std::string& fields = "");
// UTF-8 text as the body of a JSON string (without its quotes).
std::string JsonEscaped(const std::string& text);
// The program's UTF-8 text as the game's UTF-16 text.
std::u16string Utf16(const std::string& text);
void CallPlanMethod(Entity* self, Entity* other, const char* method, const char* event, size_t n);

struct Plan {
    bool create = false, invite = false, accept = false, ready = false, leaveAfterChat = false;
    bool automatch = false;
    int32_t team = 0, mask = 15;
    std::string chat, data, onReady;
    double linger = 1.0, deadline = 60.0, hostileSeconds = 0.0, stay = 0.0, delayJoin = 0.0, hostileClient = 0.0;
    uint32_t target = 0;
    int64_t timeOffsetUs = 0;
    uint32_t entities = 0, seed = 1;
    std::string dump;
    double dumpAfter = 3.0;
    bool rehost = false;
    std::string schedule, writeSchedule;
};

const char* const kPlanClasses[5] = {"MPPeer0", "MPPeer1", "MPPeer2", "MPPeer3", "MPPeer4"};

// The properties each plan template's class declares after the standard three.
const char* const kPlanScript =
    "function MPPeer0:InitMPProperties()\n"
    "  self:MPPropAddInt(0, MPPROPTYPE_INT, MPPROPFLAG_NULL, 0, 255, 'Level')\n"
    "  self:MPPropAddFloat(0, MPPROPTYPE_FLOAT, MPPROPFLAG_NULL, 0, 1, 0.01, 'Charge')\n"
    "  self:MPPropAddBool(false, MPPROPTYPE_BOOL, MPPROPFLAG_NULL, 'Active')\n"
    "end\n"
    "function MPPeer1:InitMPProperties()\n"
    "  self:MPPropAddEntity(NULL_ENTITY_MULTIPLAYER_ID, MPPROPFLAG_NULL, 'Target')\n"
    "  self:MPPropAddAnim(255, MPPROPFLAG_NULL, 'Anim')\n"
    "  self:MPPropAddFloat(0, MPPROPTYPE_FLOAT_ANIM_PROGRESS, MPPROPFLAG_NULL, 0, 1, 0, 'Progress')\n"
    "end\n"
    "function MPPeer2:InitMPProperties()\n"
    "  self:MPPropAddVec(Vector.Instance(0, 0, 0), MPPROPTYPE_VEC_ANGLEXY, MPPROPFLAG_NULL, 'Aim')\n"
    "  self:MPPropAddVec(Vector.Instance(1, 1, 1), MPPROPTYPE_VEC_SCALE, MPPROPFLAG_NULL, 'Size')\n"
    "  self:MPPropAddVec(Vector.Instance(0, 0, 0), MPPROPTYPE_VEC_POS, MPPROPFLAG_DISABLELERP, 'Goal')\n"
    "end\n"
    // The mesh: its root animation replicated through the first two.
    "function MPPeer4:InitMPProperties()\n"
    "  self:MPPropAddAnim(255, MPPROPFLAG_NULL, 'Anim')\n"
    "  self:MPPropAddFloat(0, MPPROPTYPE_FLOAT_ANIM_PROGRESS, MPPROPFLAG_NULL, 0, 1, 0, 'Progress')\n"
    "  self:MPPropAddInt(0, MPPROPTYPE_INT, MPPROPFLAG_NULL, 0, 255, 'Level')\n"
    "end\n"
    "function MPPeer3:InitMPProperties()\n"
    "  self:MPPropAddInt(0, MPPROPTYPE_INT, MPPROPFLAG_CALLBACK, -50, 50, 'Score')\n"
    "  self:MPPropAddEntity(NULL_ENTITY_MULTIPLAYER_ID, MPPROPFLAG_NULL, 'Friend')\n"
    "  self:MPPropAddFloat(0, MPPROPTYPE_FLOAT, MPPROPFLAG_NULL, 0, 10, 0.5, 'Speed')\n"
    "end\n"
    // A reliable call on a new entity naming the one made before it, and an unreliable one
    // on an entity of the other player's: where it runs, one line with its number and both
    // entities' ids.
    // (one method name per class: a replicated method is known by its name)
    "for i, class in ipairs({MPPeer0, MPPeer1, MPPeer2, MPPeer3, MPPeer4}) do\n"
    "  local name = 'Mark' .. (i - 1)\n"
    "  class[name] = function(self, n, other)\n"
    "    print('{\"event\":\"mark\",\"n\":' .. n .. ',\"self\":' .. self:GetMultiplayerId() .. ',\"other\":' ..\n"
    "          (other and other:GetMultiplayerId() or -1) .. '}')\n"
    "  end\n"
    "  ReplicateMethod(class, name, toClient, reliable)\n"
    "  local ping = 'Ping' .. (i - 1)\n"
    "  class[ping] = function(self, n, other)\n"
    "    print('{\"event\":\"ping\",\"n\":' .. n .. ',\"self\":' .. self:GetMultiplayerId() .. ',\"other\":' ..\n"
    "          (other and other:GetMultiplayerId() or -1) .. '}')\n"
    "  end\n"
    "  ReplicateMethod(class, ping, toClient, unreliable)\n"
    "end\n";

// The templates of the entity plan, the same GUIDs in every process: four plain ones
// and, when the data folder holds kPlanMeshFile (a mesh block whose hierarchy has a
// "root" animation tree) and the clips "clip0" to "clip3", a mesh with those four
// animations.
const char* const kPlanMeshFile = "mp_peer_mesh.bin";
constexpr uint32_t kPlanClips = 4;

// Dumps wait this long (seconds) after the state they show was made: the host's after its
// schedule's last step, the client's after the host's notice, which is this line of chat.
constexpr double kDumpSettleSeconds = 2.0;
const char* const kDumpNotice = "entities dumped";
// A dumping host leaves by --stay no sooner than this (seconds) after its dump, which its
// client's dump waits for.
constexpr double kHostLeaveAfterDumpSeconds = 5.0;

struct EntityPlanTemplates {
    EntityTemplate templates[4];
    std::unique_ptr<MeshTemplate> mesh;  // released with the engine's resources still there
    // The registry owns a stub once it holds it: the engine's shut-down, which may come
    // before Unregister (a quit ends the main loop), deletes the stubs it still holds.
    EntityTemplateStub* stubs[5] = {};
    SimpleGUID guids[5];
    uint32_t count = 4;
    void Register(const std::string& data) {
        for (uint32_t i = 0; i < 5; ++i) {
            char text[40];
            std::snprintf(text, sizeof text, "00000000-0000-0000-0000-0000000051%02X", i);
            guids[i].FromString(text);
            if (i == 4) mesh = std::make_unique<MeshTemplate>();
            EntityTemplate& t = i < 4 ? templates[i] : *mesh;
            t.guid = guids[i];
            t.SetName(("mp_peer_" + std::to_string(i)).c_str());
            // The template owns (and frees) its class name: a copy, never the literal.
            RTTIValueStore<char*>::Assign(t.luaClass, const_cast<char*>(kPlanClasses[i]));
        }
        count = ReadMesh(data) ? 5 : 4;
        for (uint32_t i = 0; i < count; ++i) {
            stubs[i] = new EntityTemplateStub();
            stubs[i]->guid = guids[i];
            stubs[i]->SetTemplate(i < 4 ? &templates[i] : mesh.get());
            if (!gEntityTemplateRegistry.InsertStub(stubs[i])) {
                delete stubs[i];
                stubs[i] = nullptr;
            }
        }
    }
    void Unregister() {
        // A stub the registry no longer holds was deleted with it.
        for (uint32_t i = 0; i < count; ++i) {
            if (stubs[i] && gEntityTemplateRegistry.FindStubByGUID(guids[i]) == stubs[i]) {
                gEntityTemplateRegistry.RemoveStub(stubs[i]);
                delete stubs[i];
            }
            stubs[i] = nullptr;
        }
        mesh.reset();
        // The plain templates are static and outlive the engine's allocator.
        for (EntityTemplate& t : templates) RTTIFreeString(t.luaClass);
    }
    bool IsMesh(const Entity* e) const { return count > 4 && e && e->GetTemplate() == mesh.get(); }

private:
    bool ReadMesh(const std::string& data) {
        if (data.empty()) return false;
        std::ifstream in(data + "/" + kPlanMeshFile, std::ios::binary);
        const std::vector<uint8_t> block{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        BoundedReader reader(block.data(), block.size());
        if (block.empty() || !mesh->ReadBinaryData(reader, 50)) return false;
        mesh->animations.Resize(kPlanClips);
        for (uint32_t i = 0; i < kPlanClips; ++i) {
            mesh->animations[i].name = ("Clip" + std::to_string(i)).c_str();
            mesh->animations[i].fileName = ("clip" + std::to_string(i)).c_str();
            mesh->animations[i].time = 1.0f;
        }
        mesh->LoadAnimations();
        return true;
    }
};

// The plan's own random numbers: the engine draws from CrtRand at times of its own (the
// time sync, the lobby), so a seed gives one host dump only from a generator of its own.
std::minstd_rand gPlanRandom;
uint32_t PlanRand() { return uint32_t(gPlanRandom()); }

Vector SeededPosition() {
    const auto c = [] { return float(PlanRand() % 1000) / 10.0f - 50.0f; };
    return Vector(c(), float(PlanRand() % 200) / 10.0f, c(), 1.0f);
}

// Host: seeded values for the properties a plan class declared (an entity reference
// names one of the plan's entities, or none).
void SetPlanProperties(Entity* e, const std::vector<SafePointer<Entity>>& made) {
    MPPropertyContainer* c = e->GetMPProperties();
    const auto fraction = [] { return float(PlanRand() % 256) / 255.0f; };
    for (uint32_t i = 3; c && i < c->Count(); ++i) {
        const MPProperty& p = *c->Get(i);
        switch (p.kind) {
        case MPPROPTYPE_INT: e->MPPropSetInt(i, p.intMin + int32_t(PlanRand() % uint32_t(p.intMax - p.intMin + 1)), 0); break;
        case MPPROPTYPE_FLOAT: e->MPPropSetFloat(i, p.floatMin + (p.floatMax - p.floatMin) * fraction(), 0); break;
        case MPPROPTYPE_FLOAT_ANIM_PROGRESS:
            if (!gPlanTemplates().IsMesh(e)) e->MPPropSetFloat(i, fraction(), 0);  // a mesh's are its animation's
            break;
        case MPPROPTYPE_BOOL: e->MPPropSetBool(i, PlanRand() & 1, 0); break;
        case MPPROPTYPE_ENTITY: e->MPPropSetEntity(i, made.empty() || PlanRand() % 5 == 0 ? nullptr : made[PlanRand() % made.size()].Get(), 0); break;
        case MPPROPTYPE_ANIM: {
            if (gPlanTemplates().IsMesh(e)) break;
            MPAnimValue a;
            a.index = uint8_t(PlanRand() % 20);
            a.loop = uint8_t(PlanRand() & 1);
            a.attackTime = fraction();
            e->MPPropSetAnim(i, a, 0);
            break;
        }
        case MPPROPTYPE_VEC_ANGLEXY: e->MPPropSetVec3(i, float(PlanRand() % 360), float(PlanRand() % 360), 0.0f, 0); break;
        case MPPROPTYPE_VEC_SCALE: e->MPPropSetVec3(i, fraction() * 20.0f, fraction() * 20.0f, fraction() * 20.0f, 0); break;
        case MPPROPTYPE_VEC_POS: e->MPPropSetVec(i, SeededPosition(), 0); break;
        default: break;
        }
    }
}

// Host: the entities of the plan, created once the player is ready.
void CreatePlanEntities(uint32_t n, std::vector<SafePointer<Entity>>& made, Player* guest) {
    Entity* previous = nullptr;
    for (uint32_t i = 0; i < n; ++i) {
        Matrix m = Matrix::IDENTITY;
        const Vector p = SeededPosition();
        m.r[3] = p;
        Entity* parent = (i % 5 == 4) ? previous : nullptr;
        Entity* e = gEntityManager->CreateEntityInGameByGUID(gPlanTemplates().guids[i % gPlanTemplates().count], parent, m,
                                                             ENTITYCREATION_MULTIPLAYER_AUTHORITY, nullptr);
        if (!e) continue;
        if (gPlanTemplates().IsMesh(e)) e->ReplicateAnimEnable(3, 4);
        e->MPPropSetPosition(parent ? Vector(0, 0, 0, 1) : p, 0);
        e->MPPropSetRotation(Vector(0, float(PlanRand() % 360), 0, 1));
        if (i % 7 == 3 && guest) e->SetPlayerOwner(guest);
        made.emplace_back(e);
        SetPlanProperties(e, made);
        previous = e;
    }
}

void MovePlanEntities(std::vector<SafePointer<Entity>>& made) {
    if (made.empty()) return;
    for (size_t k = 0; k < made.size() / 10 + 1; ++k) {
        Entity* e = made[PlanRand() % made.size()].Get();
        if (!e || e->IsTornOff()) continue;
        SetPlanProperties(e, made);
        if (e->GetParent() && e->GetParent() != gEntityManager->GetRootEntity()) continue;
        e->MPPropSetPosition(SeededPosition(), 0);
        e->MPPropSetRotation(Vector(0, float(PlanRand() % 360), 0, 1));
    }
}

// Host: count entities destroyed (their authority children go with them).
void DestroyPlanEntities(uint32_t count, std::vector<SafePointer<Entity>>& made) {
    for (uint32_t k = 0; k < count && !made.empty(); ++k) {
        const size_t at = PlanRand() % made.size();
        if (Entity* e = made[at].Get()) gEntityManager->DestroyEntity(e);
        made.erase(made.begin() + long(at));
    }
}

// Host: count entities torn off (their children too).
void TearOffPlanEntities(uint32_t count, std::vector<SafePointer<Entity>>& made) {
    for (uint32_t k = 0; k < count && !made.empty(); ++k)
        if (Entity* e = made[PlanRand() % made.size()].Get()) e->SetTornOff();
}

// Host: every mesh of the plan starts a seeded looping clip on its root, its progress
// pinned to a seeded fraction; the mesh copies it into its replicated properties.
void AnimatePlanEntities(std::vector<SafePointer<Entity>>& made) {
    for (SafePointer<Entity>& p : made) {
        Entity* e = p.Get();
        if (!e || e->IsTornOff() || !gPlanTemplates().IsMesh(e)) continue;
        AnimationParams params;
        params.Flags = ANIMFLAG_LOOP;
        params.OverrideProgress = float(PlanRand() % 256) / 255.0f;
        static_cast<MeshEntity*>(e)->StartAnimationByIndex("root", int32_t(PlanRand() % kPlanClips), &params);
    }
}

// Host: count new entities, each after the first given to the other player (a call goes
// to its entity's owner) with a reliable call naming the one made before it, in this step.
void GivePlanEntities(uint32_t count, std::vector<SafePointer<Entity>>& made, Player* guest) {
    std::vector<SafePointer<Entity>> more;
    CreatePlanEntities(count, more, guest);
    for (size_t k = 1; k < more.size() && guest; ++k) {
        Entity* self = more[k].Get();
        Entity* other = more[k - 1].Get();
        if (!self || !other) continue;
        self->SetPlayerOwner(guest);
        CallPlanMethod(self, other, "Mark", "mark_sent", k);
    }
    for (SafePointer<Entity>& e : more) made.emplace_back(e.Get());
}

// The host's schedule: timed steps, one JSON object a line in the form of the events
// (milliseconds after the other player became ready, the step, its values):
//   {"t":0,"event":"create","count":200}       entities made (every fifth under the one
//                                               before it, every seventh the other's)
//   {"t":100,"event":"move"}                   a seeded tenth set and moved
//   {"t":100,"event":"call"}                   two unreliable calls
//   {"t":2500,"event":"destroy","count":20}    seeded picks destroyed
//   {"t":2500,"event":"tear_off","count":10}   seeded picks torn off
//   {"t":2500,"event":"create","count":20,"give":1}  made, given, each with a reliable call
//   {"t":3000,"event":"chat","text":"TEXT"}    a line of game chat
// Steps run in the file's order, each once its time has come.
struct ScheduleStep {
    int64_t ms = 0;
    std::string event, text;
    uint32_t count = 0;
    bool give = false;
};

std::vector<ScheduleStep> DefaultSchedule(uint32_t n) {
    std::vector<ScheduleStep> out;
    out.push_back({0, "create", "", n, false});
    for (int64_t k = 0; k < 20; ++k) {
        out.push_back({k * 100, "move", "", 0, false});
        out.push_back({k * 100, "call", "", 0, false});
        if (k == 10 || k == 15) out.push_back({k * 100, "animate", "", 0, false});
    }
    out.push_back({2500, "destroy", "", n / 10, false});
    out.push_back({2500, "tear_off", "", n / 20, false});
    out.push_back({2500, "create", "", n / 10, true});
    return out;
}

bool WriteSchedule(const std::string& file, const std::vector<ScheduleStep>& steps) {
    FILE* out = std::fopen(file.c_str(), "w");
    if (!out) return false;
    for (const ScheduleStep& st : steps) {
        std::fprintf(out, "{\"t\":%lld,\"event\":\"%s\"", static_cast<long long>(st.ms), st.event.c_str());
        if (st.event == "create" || st.event == "destroy" || st.event == "tear_off") std::fprintf(out, ",\"count\":%u", st.count);
        if (st.give) std::fprintf(out, ",\"give\":1");
        if (st.event == "chat") std::fprintf(out, ",\"text\":\"%s\"", JsonEscaped(st.text).c_str());
        std::fprintf(out, "}\n");
    }
    return std::fclose(out) == 0;
}

// One flat JSON object of strings and whole numbers; false on anything else.
bool ParseStep(const std::string& line, ScheduleStep* step) {
    size_t at = 0;
    const auto skip = [&] {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
    };
    // Four hex digits at `at` (advanced past them).
    const auto hex4 = [&](uint32_t* unit) {
        if (at + 4 > line.size()) return false;
        *unit = 0;
        for (size_t end = at + 4; at < end; ++at) {
            const char c = line[at];
            const char* digits = "0123456789abcdef";
            const char* digit = c ? std::strchr(digits, c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c) : nullptr;
            if (!digit) return false;
            *unit = *unit * 16 + uint32_t(digit - digits);
        }
        return true;
    };
    const auto string = [&](std::string* out) {
        if (at >= line.size() || line[at] != '"') return false;
        for (++at; at < line.size() && line[at] != '"';) {
            if (line[at] != '\\') {
                out->push_back(line[at++]);
                continue;
            }
            if (++at >= line.size()) return false;
            const char e = line[at++];
            static const char kFrom[] = "\"\\/bfnrt", kTo[] = "\"\\/\b\f\n\r\t";
            if (const char* f = e ? std::strchr(kFrom, e) : nullptr) {
                out->push_back(kTo[f - kFrom]);
                continue;
            }
            // \uXXXX, a surrogate pair as two of them; a lone surrogate is refused.
            char16_t units[2];
            uint32_t unit = 0, count = 1;
            if (e != 'u' || !hex4(&unit)) return false;
            units[0] = char16_t(unit);
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (line.compare(at, 2, "\\u") != 0) return false;
                at += 2;
                if (!hex4(&unit) || unit < 0xDC00 || unit > 0xDFFF) return false;
                units[count++] = char16_t(unit);
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return false;
            }
            char bytes[8] = {};
            if (!WideToMultiByte(bytes, sizeof bytes - 1, units, int32_t(count), kCodePageUTF8)) return false;
            out->append(bytes);  // \u0000 adds nothing: a text ends at its first zero anyway
        }
        return at++ < line.size();
    };
    skip();
    if (at >= line.size() || line[at++] != '{') return false;
    bool first = true, sawEvent = false;
    for (;;) {
        skip();
        if (at < line.size() && line[at] == '}' && first) break;
        std::string key, text;
        if (!string(&key)) return false;
        skip();
        if (at >= line.size() || line[at++] != ':') return false;
        skip();
        long long number = 0;
        const bool isText = at < line.size() && line[at] == '"';
        if (isText) {
            if (!string(&text)) return false;
        } else {
            char* end = nullptr;
            number = std::strtoll(line.c_str() + at, &end, 10);
            if (end == line.c_str() + at || number < 0 || number > 3'600'000) return false;
            at = size_t(end - line.c_str());
        }
        if (key == "t" && !isText) step->ms = number;
        else if (key == "count" && !isText && number <= 4000) step->count = uint32_t(number);
        else if (key == "give" && !isText) step->give = number != 0;
        else if (key == "event" && isText) step->event = text, sawEvent = true;
        else if (key == "text" && isText && text.size() <= 100) step->text = text;
        else return false;
        first = false;
        skip();
        if (at < line.size() && line[at] == ',') {
            ++at;
            continue;
        }
        if (at < line.size() && line[at] == '}') break;
        return false;
    }
    ++at;
    skip();
    static const char* const kSteps[] = {"create", "move", "call", "animate", "destroy", "tear_off", "chat"};
    return at == line.size() && sawEvent &&
           std::any_of(std::begin(kSteps), std::end(kSteps), [&](const char* k) { return step->event == k; });
}

bool ReadSchedule(const std::string& file, std::vector<ScheduleStep>* out, std::string* bad) {
    std::ifstream in(file);
    if (!in) return *bad = "cannot be read", false;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        ScheduleStep step;
        if (!ParseStep(line, &step)) return *bad = "line " + std::to_string(number) + " is not a step", false;
        out->push_back(step);
    }
    return true;
}

// Host: self:<method><class digit>(n, other) through the script, as the game's scripts
// call a replicated method, and one line naming it.
void CallPlanMethod(Entity* self, Entity* other, const char* method, const char* event, size_t n) {
    gLua.SetGlobalObject(self, self->GetScriptClassName(), "markSelf");
    if (other) gLua.SetGlobalObject(other, other->GetScriptClassName(), "markOther");
    const std::string& klass = self->GetScriptClassName();
    gLua.ExecuteString(("markSelf:" + std::string(method) + klass.substr(klass.size() - 1) + "(" + std::to_string(n) + ", " +
                        (other ? "markOther" : "nil") + ")")
                           .c_str());
    Event(event, "\"n\":" + std::to_string(n) + ",\"self\":" + std::to_string(self->GetMultiplayerId()) + ",\"other\":" +
                     (other ? std::to_string(other->GetMultiplayerId()) : "-1"));
}

// Host: two unreliable calls (numbers 2k and 2k + 1) on entities the other player owns,
// each naming another entity; picked without the plan's random numbers, so the values
// the seed gives stay the same.
void PingPlanEntities(std::vector<SafePointer<Entity>>& made, Player* guest, uint32_t k) {
    std::vector<Entity*> owned;
    for (SafePointer<Entity>& p : made)
        if (Entity* e = p.Get(); e && !e->IsTornOff() && guest && e->GetPlayerOwner() == guest) owned.push_back(e);
    if (owned.size() < 2) return;
    for (uint32_t j = 0; j < 2; ++j) {
        Entity* self = owned[(k * 2 + j) % owned.size()];
        Entity* other = owned[(k * 2 + j + 1) % owned.size()];
        CallPlanMethod(self, other, "Ping", "ping_sent", k * 2 + j);
    }
}

// An entity the host tore off: it lives on, out of the match, on both sides.
bool TornOff(const Entity* e) { return (e->IsTornOff() || e->IsTornOffReceived()) && !e->IsNetAttached(); }

// Every replicated entity as the property encodings quantise it.
void DumpEntities(const std::string& file) {
    FILE* out = std::fopen(file.c_str(), "w");
    if (!out) return;
    for (uint32_t id = 0; id < kNoMultiplayerId; ++id) {
        Entity* e = gEntityManager->GetEntityByMID(id);
        MPPropertyContainer* c = e ? e->GetMPProperties() : nullptr;
        if (!e || e->GetMultiplayerRole() == MPROLE_NONE || !c || c->Count() < 3 || TornOff(e)) continue;
        Entity* parent = e->GetParent();
        const uint32_t parentId = parent && parent != gEntityManager->GetRootEntity() ? parent->GetMultiplayerId() : kNoMultiplayerId;
        char guid[40] = "none";
        if (e->GetTemplate()) e->GetTemplate()->guid.ToString(guid, sizeof guid);
        Player* owner = e->GetPlayerOwner();
        const bool ownedByGuest = owner && (e->GetMultiplayerRole() == MPROLE_PROXY) == (owner == GetMPLocalPlayer());
        std::fprintf(out, "%u %s %u %d", id, guid, parentId, ownedByGuest ? 1 : 0);
        for (uint32_t i = 0; i < c->Count(); ++i) {
            const MPProperty& p = *c->Get(i);
            // A reference to an entity no longer replicated (torn off) names none here
            // and there.
            const Entity* named = p.current.entity.Get();
            const bool none = p.kind == MPPROPTYPE_ENTITY && (!named || named->GetMultiplayerRole() == MPROLE_NONE || TornOff(named));
            std::fprintf(out, " %u:%llu", unsigned(p.kind), none ? 4095ull : (unsigned long long)MPPropEncode(p, p.current, nullptr));
        }
        // A mesh's own root animation: index and loop bit.
        if (gPlanTemplates().IsMesh(e)) std::fprintf(out, " m:%u", static_cast<MeshEntity*>(e)->GetReplicatedEncAnimData() & 0xFF);
        std::fprintf(out, "\n");
    }
    uint32_t torn = 0;
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        for (const EntityTemplate& t : gPlanTemplates().templates)
            if (e->GetTemplate() == &t && TornOff(e)) ++torn;
    std::fprintf(out, "torn %u\n", torn);
    std::fclose(out);
}

EntityPlanTemplates& gPlanTemplates() {
    static EntityPlanTemplates t;
    return t;
}

int64_t MsSinceStart() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The multiplayer engine of the Game, made as the net library's start-up makes it (the
// online driver over the process's context), with this process's network time.
int64_t gTimeOffsetUs = 0;
Network::SteamNetDriver* gDriver = nullptr;

int64_t OffsetNetworkTime(void*) { return GetNetworkTime() + gTimeOffsetUs; }

// A client's driver that, while its window is open, follows each game packet it sends
// with mutated copies (bits flipped, bytes replaced, cut or lengthened; as a game packet
// or a time-sync frame), about one every 5 ms. Network thread; its own random numbers.
class HostileDriver : public Network::SteamNetDriver {
public:
    using SteamNetDriver::SteamNetDriver;
    std::atomic<int64_t> untilMs{0};  // the window's end on MsSinceStart's clock; 0: closed
    std::atomic<uint32_t> sent{0};
    void Send(int32_t peer, const uint8_t* data, uint32_t length, uint32_t kind) override {
        SteamNetDriver::Send(peer, data, length, kind);
        const int64_t now = MsSinceStart(), until = untilMs.load();
        if (!data || length < 2 || now >= until || until == 0) return;
        int64_t copies = (now - lastMs) / 5;
        lastMs = now;
        if (copies < 1) copies = 1;
        if (copies > 20) copies = 20;
        for (int64_t c = 0; c < copies; ++c) {
            uint8_t out[Network::kP2PFrameBytes];
            uint32_t n = length;
            std::memcpy(out, data, n);
            for (uint32_t m = 1 + random() % 4; m > 0; --m) {
                const uint32_t at = 1 + random() % (n - 1);
                switch (random() % 4) {
                case 0: out[at] ^= uint8_t(1u << (random() % 8)); break;
                case 1: out[at] = uint8_t(random()); break;
                case 2: n = at + 1; break;
                default:
                    while (n < Network::kP2PFrameBytes && n < length + 16) out[n++] = uint8_t(random());
                    break;
                }
                if (n < 2) break;
            }
            SteamNetDriver::Send(peer, out, n, random() % 3 == 0 ? 1 : 0);
            sent.fetch_add(1);
        }
    }

private:
    std::minstd_rand random{53};
    int64_t lastMs = 0;
};
double gHostileClientSeconds = 0;

MultiplayerEngine* CreateEngine() {
    if (gDriver || !online::GlobalContext()) return new MultiplayerEngine();
    gDriver = gHostileClientSeconds > 0 ? new HostileDriver(online::GlobalContext()) : new Network::SteamNetDriver(online::GlobalContext());
    MultiplayerEngine::Options options;
    options.driver = gDriver;
    options.networkTime = &OffsetNetworkTime;
    auto* engine = new MultiplayerEngine(options);
    gDriver->SetRouteTarget(engine);
    return engine;
}
void DeleteEngine(MultiplayerEngine* engine) {
    if (gDriver) gDriver->SetRouteTarget(nullptr);  // nothing is routed to an engine being torn down
    delete engine;
    delete gDriver;
    gDriver = nullptr;
}

// The game's UTF-16 text as UTF-8 (an unpaired surrogate becomes U+FFFD).
std::string Utf8(const char16_t* text) {
    const uint32_t units = text ? UTF16Length(text) : 0;
    if (units == 0) return {};
    std::string out(size_t(units) * 3, '\0');  // three bytes a unit at most (four a pair)
    if (!WideToMultiByte(out.data(), uint32_t(out.size()), text, int32_t(units), kCodePageUTF8)) return {};
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::string JsonEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

std::u16string Utf16(const std::string& text) {
    std::u16string out(text.size(), u'\0');  // never more units than bytes
    out.resize(UTF8ToUTF16(out.data(), uint32_t(out.size()), text.data(), uint32_t(text.size())));
    return out;
}

void Event(const char* name, const std::string& fields) {
    std::printf("{\"t\":%lld,\"event\":\"%s\"%s%s}\n", static_cast<long long>(MsSinceStart()), name, fields.empty() ? "" : ",",
                fields.c_str());
    std::fflush(stdout);
}

class Harness : public GameDelegate {
public:
    Plan plan;
    MultiplayerEngine* engine = nullptr;
    bool members2 = false, readied = false, started = false, host = false, connected = false, peerReady = false;
    bool chatSent = false, chatHeard = false, left = false, done = false, joinedLobby = false, joinPending = false;
    bool dumpNoticeHeard = false;  // client: the host's line saying it dumped
    // --rehost: 1 the player left, 2 the game is being left, 3 it ended, 4 hosting again.
    int rehostStep = 0;
    int64_t leftAt = 0;
    Player* guest = nullptr;  // host: the joined player

    void OnChatMessage(bool lobby, int32_t kind, const char16_t* text) override {
        Event("chat", "\"lobby\":" + std::to_string(lobby) + ",\"kind\":" + std::to_string(kind) + ",\"text\":\"" + JsonEscaped(Utf8(text)) + "\"");
        if (lobby && kind == 2) members2 = true;
        // The other left the lobby before the game started: invite again, ready again.
        if (lobby && kind == 3 && !started) members2 = readied = false;
        // The game echoes a player's own line; the other's is the one that counts.
        const std::string line = Utf8(text), own = ": " + plan.chat, notice = std::string(": ") + kDumpNotice;
        const auto endsWith = [&](const std::string& tail) {
            return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
        };
        if (!lobby && endsWith(notice)) {
            if (!host) dumpNoticeHeard = true;
            return;
        }
        if (!lobby && !endsWith(own)) chatHeard = true;
    }
    void OnLobbyUpdated() override {
        Event("lobby_updated");
        if (joinedLobby || plan.create) {
            if (engine->LobbyGetMemberPresent(1)) members2 = true;
        }
    }
    void OnLobbyJoinRequested() override {
        Event("lobby_join_requested");
        if (plan.accept && !started) {  // one game per client
            engine->LobbyAcceptJoinRequest();
            joinedLobby = true;
        }
    }
    void OnLobbyGameStartRequest(uint32_t map, bool isHost, bool ranked) override {
        Event("lobby_start", "\"map\":" + std::to_string(map) + ",\"host\":" + std::to_string(isHost) + ",\"ranked\":" + std::to_string(ranked));
        started = true;
        host = isHost;
        if (isHost)
            engine->Host(0);
        else if (plan.delayJoin <= 0)
            engine->Join("", 0, 0);
        else
            joinPending = true;
    }
    void OnLobbyError(int32_t e) override { Event("lobby_error", "\"error\":" + std::to_string(e)); }
    void OnGameHosted(int32_t r) override { Event("hosted", "\"result\":" + std::to_string(r)); }
    void OnGameJoined(int32_t r) override {
        Event("joined", "\"result\":" + std::to_string(r));
        if (r == 0) Connected();
    }
    void OnGameDisconnected(int32_t r) override {
        Event("disconnected", "\"reason\":" + std::to_string(r) + ",\"mode\":" + std::to_string(engine->GetMainThreadMode()));
        if (!host) done = true;
        if (host && rehostStep == 2) rehostStep = 3;
    }
    bool OnPlayerConnecting() override {
        Event("player_connecting");
        return true;
    }
    void OnPlayerConnected(Player* player) override {
        Event("player_connected");
        if (!host) return;
        guest = player;
        engine->SynchronizePlayer(player);  // as the game does: the player is made ready
        Connected();
    }
    void OnPlayerReady(Player* player) override {
        Event("player_ready");
        peerReady = true;
        if (!plan.onReady.empty() && player) gLua.CallMethod(0, 0, player, "Player", plan.onReady.c_str());
    }
    void OnPlayerDisconnected(Player*, uint32_t r) override {
        Event("player_disconnected", "\"reason\":" + std::to_string(r));
        if (host && plan.rehost && rehostStep == 0)
            rehostStep = 1;
        else if (host)
            done = true;
    }
    void OnPlayerConnectionStall(Player*) override { Event("stall"); }
    void OnPlayerConnectionResume(Player*) override { Event("resume"); }
    // As the game's delegate: the script bridge runs them.
    void OnReplicatedMethodCall(Player* player, const MPMethodCall* call) override {
        if (!call) return;
        Event("replicated_call", "\"method\":" + std::to_string(call->methodId) + ",\"args\":" + std::to_string(call->argCount));
        CallReplicatedMethod(player, *call);
    }
    void OnReplicatedProperty(Entity* entity) override {
        Event("replicated_property");
        SetEntityReplicatedProperty(entity);
    }
    // The Game has released its entities and is about to close the engine: the plan's
    // templates go now, while the shaders and resources their mesh holds still exist.
    void OnAfterClose() override { gPlanTemplates().Unregister(); }
    // The scripts: the data's main script when present (the players' class is the
    // multiplayer package's).
    void OnPreInit() override {
        gLua.ExecuteFile("Main", kScriptFolder, false);
        // After the main script, so its replicated methods keep the first ids.
        for (const char* c : kPlanClasses) gLua.RegisterClass(c, "Entity");
        gLua.ExecuteString(kPlanScript);
    }

    void Connected() {
        connected = true;
        if (!plan.chat.empty()) {
            engine->SendChatMessage(0, Utf16(plan.chat).c_str());
            chatSent = true;
        }
    }
};

bool ParseDouble(const char* text, double* out) {
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end && *end == 0 && *out >= 0;
}

int Usage(const char* why) {
    std::fprintf(stderr,
                 "mp_peer: %s\n"
                 "usage: mp_peer [--data DIR] [--broker HOST:PORT] [--create] [--invite] [--accept] [--automatch TEAM MASK]\n"
                 "               [--ready] [--chat TEXT] [--leave-after-chat] [--stay S] [--linger S] [--deadline S]\n"
                 "               [--delay-join S] [--on-ready METHOD] [--time-offset MS] [--hostile-frames S --target ACCOUNT]\n"
                 "               [--entities N --seed S] [--schedule FILE] [--dump FILE --dump-after S] [--hostile S] [--rehost]\n"
                 "       mp_peer --entities N --write-schedule FILE\n"
                 "schedule: one step a line, run in order once its time (ms after the player is ready) has come:\n"
                 "  {\"t\":MS,\"event\":\"create\",\"count\":N[,\"give\":1]}  {\"t\":MS,\"event\":\"move\"}  {\"t\":MS,\"event\":\"call\"}"
                 "  {\"t\":MS,\"event\":\"animate\"}\n"
                 "  {\"t\":MS,\"event\":\"destroy\",\"count\":N}  {\"t\":MS,\"event\":\"tear_off\",\"count\":N}"
                 "  {\"t\":MS,\"event\":\"chat\",\"text\":\"TEXT\"}\n",
                 why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Harness h;
    Plan& plan = h.plan;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)name;
            return argv[++i];
        };
        if (a == "--create") plan.create = true;
        else if (a == "--invite") plan.invite = true;
        else if (a == "--accept") plan.accept = true;
        else if (a == "--ready") plan.ready = true;
        else if (a == "--leave-after-chat") plan.leaveAfterChat = true;
        else if (a == "--rehost") plan.rehost = true;
        else if (a == "--data" || a == "--on-ready") {
            const char* v = value(a.c_str());
            if (!v || !*v) return Usage((a + " needs a value").c_str());
            (a == "--data" ? plan.data : plan.onReady) = v;
        } else if (a == "--chat") {
            const char* v = value("--chat");
            if (!v) return Usage("--chat needs a text");
            plan.chat = v;
        } else if (a == "--automatch") {
            const char* t = value("team");
            const char* m = t ? value("mask") : nullptr;
            if (!m) return Usage("--automatch needs TEAM MASK");
            plan.automatch = true;
            plan.team = std::atoi(t);
            plan.mask = std::atoi(m);
        } else if (a == "--broker") {
            const char* v = value("--broker");
            std::string host;
            uint16_t port = 0;
            if (!v || !online::ParseBrokerAddress(v, &host, &port)) return Usage("--broker wants HOST:PORT");
            online::SetBrokerAddressOverride(v);
        } else if (a == "--time-offset") {
            const char* v = value("--time-offset");
            char* end = nullptr;
            const long long ms = v ? std::strtoll(v, &end, 10) : 0;
            if (!v || !*v || *end || ms < -86'400'000 || ms > 86'400'000) return Usage("--time-offset wants milliseconds");
            plan.timeOffsetUs = ms * 1000;
        } else if (a == "--target") {
            const char* v = value("--target");
            if (!v) return Usage("--target needs an account");
            plan.target = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
        } else if (a == "--entities" || a == "--seed") {
            const char* v = value(a.c_str());
            char* end = nullptr;
            const unsigned long n = v ? std::strtoul(v, &end, 10) : 0;
            // A count up to 4,000 entities; a seed is any 32-bit number.
            if (!v || !*v || *end || n > (a == "--seed" ? 0xFFFFFFFFul : 4000ul))
                return Usage((a == "--seed" ? std::string("--seed wants a number up to 4294967295") : a + " wants a count up to 4000").c_str());
            (a == "--entities" ? plan.entities : plan.seed) = uint32_t(n);
        } else if (a == "--schedule" || a == "--write-schedule") {
            const char* v = value(a.c_str());
            if (!v || !*v) return Usage((a + " needs a file").c_str());
            (a == "--schedule" ? plan.schedule : plan.writeSchedule) = v;
        } else if (a == "--dump") {
            const char* v = value("--dump");
            if (!v || !*v) return Usage("--dump needs a file");
            plan.dump = v;
        } else if (a == "--dump-after") {
            const char* v = value("--dump-after");
            if (!v || !ParseDouble(v, &plan.dumpAfter)) return Usage("--dump-after wants seconds");
        } else if (a == "--linger" || a == "--deadline" || a == "--hostile-frames" || a == "--stay" || a == "--delay-join" || a == "--hostile") {
            const char* v = value(a.c_str());
            double d = 0;
            if (!v || !ParseDouble(v, &d)) return Usage("a number of seconds is missing");
            (a == "--linger" ? plan.linger : a == "--deadline" ? plan.deadline : a == "--stay" ? plan.stay
                                           : a == "--delay-join" ? plan.delayJoin : a == "--hostile" ? plan.hostileClient : plan.hostileSeconds) = d;
        } else {
            return Usage(("unknown argument " + a).c_str());
        }
    }

    if (!plan.writeSchedule.empty())
        return WriteSchedule(plan.writeSchedule, DefaultSchedule(plan.entities)) ? 0 : Usage("--write-schedule: the file cannot be written");
    std::vector<ScheduleStep> schedule;
    if (!plan.schedule.empty()) {
        std::string bad;
        if (!ReadSchedule(plan.schedule, &schedule, &bad)) return Usage(("--schedule: " + plan.schedule + " " + bad).c_str());
    } else if (plan.entities) {
        schedule = DefaultSchedule(plan.entities);
    }

    // The program's start-up, on the recording device.
    gfx::SelectDeviceKind(gfx::DeviceKind::Recording);
    const StaticInitTable* tables[] = {&kCoreStaticInit, &kRenderStaticInit, &kEngineStaticInit, &kSceneStaticInit, &kSoundStaticInit,
                                       &kNetStaticInit,  &kGameStaticInit, &kBindingsStaticInit};
    if (!RunStaticInit(tables, sizeof tables / sizeof tables[0])) return Usage("start-up failed");
    if (!plan.data.empty()) {
        const RTTIProperty* repository = EngineConfig::RegisterClass()->FindProperty("Repository path");
        if (!repository || !repository->FromString(gGameConfig, plan.data.c_str())) {
            RunStaticShutdown();
            return Usage("--data: the data folder cannot be set");
        }
        gGameConfig->useContainerFiles = false;  // the tests' data are plain folders
        gGameConfig->fullScreenMode = false;
    }

    if (plan.hostileSeconds > 0) {
        // Frames of every type with random contents at the target, 200 a second; no
        // engine, only the online services.
        online::ClientConfig config = online::ClientConfig::FromEnvironment();
        if (!SteamAPI_InitWithConfig(config)) {
            RunStaticShutdown();
            return Usage((std::string("online services: ") + SteamAPI_InitError()).c_str());
        }
        online::OnlineContext* ctx = online::GlobalContext();
        Event("clock_base", "\"counter\":" + std::to_string(os::ReadRealCounter()) + ",\"id\":\"" + std::to_string(ctx->User()->GetSteamID()) + "\"");
        const online::OnlineId target = online::MakeUserId(plan.target);
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(plan.hostileSeconds);
        uint32_t sent = 0;
        while (std::chrono::steady_clock::now() < until) {
            uint8_t frame[64];
            const uint32_t n = 1 + uint32_t(CrtRand()) % sizeof frame;
            for (uint32_t k = 0; k < n; ++k) frame[k] = static_cast<uint8_t>(CrtRand());
            frame[0] = static_cast<uint8_t>(1 + CrtRand() % 6);
            ctx->Networking()->SendP2PPacket(target, frame, n, online::kSendUnreliableNoDelay, 0);
            ++sent;
            ctx->RunCallbacks();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Event("hostile_done", "\"frames\":" + std::to_string(sent));
        SteamAPI_Shutdown();
        RunStaticShutdown();
        return 0;
    }

    // The engine's log on standard error (the engine destroys the sink at its shutdown).
    LogSink* sink = CreateFileLogSink("-");
    if (sink && !sink->Start()) Log::DestroySink(&sink);
    if (sink) {
        gLog.AttachSink(sink);
        EngineCore::AdoptLogSink(sink);
    }
    auto endLog = [&] {
        if (sink && gLog.Sink() == sink) {
            EngineCore::AdoptLogSink(nullptr);
            Log::DestroySink(&sink);
        }
    };
    // The engine (it signs in and makes the multiplayer engine over the online driver)
    // and the Game with the harness as its delegate; no start scene.
    gTimeOffsetUs = plan.timeOffsetUs;
    gHostileClientSeconds = plan.hostileClient;
    static const Game::MultiplayerEngineFactory kPeerEngines = {&CreateEngine, &DeleteEngine};
    Game::SetMultiplayerEngineFactory(&kPeerEngines);
    if (!app::CreateMainWindow(wnd::kShowNormal, "mp_peer")) {
        endLog();
        RunStaticShutdown();
        return Usage("the engine did not start");
    }
    app::StartGame(&h, nullptr, 0);
    online::OnlineContext* ctx = online::GlobalContext();
    MultiplayerEngine* engine = gGame->GetMultiplayerEngine();
    if (!ctx || !engine) {
        gGame->Quit();
        while (app::RunMainLoopPass()) {
        }
        endLog();
        RunStaticShutdown();
        return Usage("no online services");
    }
    engine->InitRemotePlayers(1);  // the game's scripts make the remote player
    h.engine = engine;
    gPlanTemplates().Register(plan.data);
    gPlanRandom.seed(plan.seed);
    std::vector<SafePointer<Entity>> planEntities;
    double planAt = -1;
    size_t nextStep = 0;
    uint32_t callSteps = 0;
    bool hostileDone = false;
    bool dumped = false;
    double lastStepAt = -1, dumpedAt = -1, dumpNoticeAt = -1;
    // The clock and the counter read together: the counter halfway between two reads that
    // lie within a millisecond of each other, so a pre-emption between them cannot skew the pair.
    int64_t counter = 0, clock = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int64_t before = os::ReadRealCounter();
        clock = OffsetNetworkTime(nullptr);
        const int64_t after = os::ReadRealCounter();
        counter = before + (after - before) / 2;
        if (after - before < os::kCounterFrequency / 1000) break;
    }
    Event("clock_base", "\"counter\":" + std::to_string(counter) + ",\"id\":\"" + std::to_string(ctx->User()->GetSteamID()) +
                            "\",\"network_time_us\":" + std::to_string(clock) + ",\"offset_us\":" + std::to_string(gTimeOffsetUs));
    bool timeSyncPrinted = false;

    if (plan.automatch) {
        engine->LobbySetSkill(1000.0f, 1000.0f);
        engine->LobbyAutoMatch(plan.team, 100, 400, 100, 400, 60, 60, 60, plan.mask, false);
    } else if (plan.create) {
        engine->LobbyCreatePrivate();
    }
    const auto start = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    double nextInvite = 0.5, doneAt = -1, connectedAt = -1, chatHeardAt = -1, joinAt = -1;
    int status = 3;
    while (seconds() < plan.deadline) {
        if (!app::RunMainLoopPass()) {
            status = 2;  // the engine ended on its own
            break;
        }
        int64_t median = 0;
        const uint32_t samples = engine->GetTimeSyncMedian(&median);
        if (samples >= 10 && !timeSyncPrinted) {
            Event("time_sync", "\"median_us\":" + std::to_string(median) + ",\"samples\":" + std::to_string(samples));
            timeSyncPrinted = true;
        }
        if (plan.invite && !h.members2 && seconds() >= nextInvite) {
            engine->LobbyInviteFriend();
            nextInvite = seconds() + 0.5;
        }
        if (plan.ready && h.members2 && !h.readied) {
            engine->LobbySetReady(true);
            h.readied = true;
        }
        if (h.joinPending && joinAt < 0) joinAt = seconds() + plan.delayJoin;
        if (h.joinPending && seconds() >= joinAt) {
            engine->Join("", 0, 0);
            h.joinPending = false;
        }
        if (h.connected && connectedAt < 0) {
            connectedAt = seconds();
            if (plan.hostileClient > 0 && !h.host && gDriver)
                static_cast<HostileDriver*>(gDriver)->untilMs = MsSinceStart() + int64_t(plan.hostileClient * 1000);
        }
        if (plan.hostileClient > 0 && !hostileDone && connectedAt >= 0 && seconds() >= connectedAt + plan.hostileClient && gDriver) {
            Event("hostile_done", "\"frames\":" + std::to_string(static_cast<HostileDriver*>(gDriver)->sent.load()));
            hostileDone = true;
        }
        if (h.host && h.peerReady && !schedule.empty() && planAt < 0) planAt = seconds();
        // Each step once its time has come and the ones before it ran, whatever the
        // timing, so a seed gives one host dump.
        while (planAt >= 0 && nextStep < schedule.size() && seconds() >= planAt + double(schedule[nextStep].ms) / 1000.0) {
            const ScheduleStep& st = schedule[nextStep++];
            lastStepAt = seconds();
            if (st.event == "create" && !st.give) {
                std::vector<SafePointer<Entity>> more;
                CreatePlanEntities(st.count, more, h.guest);
                for (SafePointer<Entity>& e : more) planEntities.emplace_back(e.Get());
                Event("entities_created", "\"count\":" + std::to_string(planEntities.size()));
            } else if (st.event == "create") {
                GivePlanEntities(st.count, planEntities, h.guest);
                Event("entities_replaced", "\"count\":" + std::to_string(planEntities.size()));
            } else if (st.event == "move") {
                MovePlanEntities(planEntities);
            } else if (st.event == "animate") {
                AnimatePlanEntities(planEntities);
            } else if (st.event == "call") {
                PingPlanEntities(planEntities, h.guest, callSteps++);
            } else if (st.event == "destroy") {
                DestroyPlanEntities(st.count, planEntities);
            } else if (st.event == "tear_off") {
                TearOffPlanEntities(st.count, planEntities);
            } else if (st.event == "chat") {
                engine->SendChatMessage(0, Utf16(st.text).c_str());
            }
        }
        // Hosting again: the game left (its players are gone), the lobby left, a new one made
        // and the plan's lobby steps run once more; the entities stay.
        if (h.rehostStep == 1) {
            Event("rehosting");
            // A host that left by itself (--stay) may have seen its game end already: a
            // second disconnect would find no game and report nothing.
            if (engine->GetMainThreadMode() == NETMODE_NONE) {
                h.rehostStep = 3;
            } else {
                if (!h.left) engine->Disconnect(0);
                h.rehostStep = 2;
            }
        }
        if (h.rehostStep == 3) {
            engine->LobbyLeave();
            engine->LobbyCreatePrivate();
            h.members2 = h.readied = h.started = h.connected = h.peerReady = h.chatSent = h.chatHeard = h.left = false;
            h.guest = nullptr;
            connectedAt = chatHeardAt = -1;
            dumped = false;
            dumpedAt = -1;
            nextInvite = seconds() + 0.5;
            h.rehostStep = 4;
        }
        // The final state only: a host's once its schedule ran, a client's once the host's
        // notice came.
        if (h.dumpNoticeHeard && dumpNoticeAt < 0) dumpNoticeAt = seconds();
        const bool planSettled = schedule.empty() || (nextStep == schedule.size() && seconds() >= lastStepAt + kDumpSettleSeconds);
        const bool stateFinal = h.host ? planSettled : dumpNoticeAt >= 0 && seconds() >= dumpNoticeAt + kDumpSettleSeconds;
        if (!plan.dump.empty() && !dumped && connectedAt >= 0 && seconds() >= connectedAt + plan.dumpAfter && stateFinal) {
            DumpEntities(h.rehostStep == 4 ? plan.dump + ".2" : plan.dump);
            dumped = true;
            dumpedAt = seconds();
            Event("dumped");
            if (h.host) engine->SendChatMessage(0, Utf16(kDumpNotice).c_str());
        }
        const bool dumpOver =
            plan.dump.empty() || (dumped && seconds() >= dumpedAt + (h.host ? kHostLeaveAfterDumpSeconds : 0.0));
        const bool stayOver = plan.stay > 0 && connectedAt >= 0 && seconds() >= connectedAt + plan.stay && dumpOver;
        // Leaving half a second after the other's line arrived lets the own line's
        // reliable packet reach the other first.
        if (h.chatHeard && chatHeardAt < 0) chatHeardAt = seconds();
        const bool chatOver = plan.leaveAfterChat && h.connected && chatHeardAt >= 0 && seconds() >= chatHeardAt + 0.5;
        if ((chatOver || stayOver) && !h.left) {
            engine->Disconnect(0);
            h.left = true;
            Event("leaving");
        }
        if ((h.done || (h.left && !h.host)) && doneAt < 0) doneAt = seconds() + (h.host ? 0.2 : plan.linger);
        if (h.done && !h.host && doneAt > seconds() + plan.linger) doneAt = seconds() + plan.linger;
        if (doneAt >= 0 && seconds() >= doneAt) {
            status = 0;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (status == 3) Event("deadline");
    planEntities.clear();
    // The Game closes (the multiplayer engine and its driver go), then the engine.
    h.engine = nullptr;
    if (gGame->IsInitialised()) {
        gGame->Quit();
        while (app::RunMainLoopPass()) {
        }
    }
    gPlanTemplates().Unregister();  // a Game that never initialised had no after-close
    endLog();
    RunStaticShutdown();
    return status;
}
