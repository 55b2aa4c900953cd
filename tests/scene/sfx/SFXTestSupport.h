#pragma once
// Shared helpers of the effect tests: definitions built in code, contexts on the real
// render thread, the three frame clocks and recording doubles of the sound entries.
#include <memory>
#include <string>
#include <vector>

#include "render/RenderTestSupport.h"
#include "core/rtti/RTTIProperty.h"
#include "scene/SceneSoundServices.h"
#include "scene/sfx/SFXContext.h"
#include "scene/sfx/SFXElementContexts.h"

namespace sfxtest {

// A quad without texture (nothing to load), named when name is not null.
inline SFXQuadElementDefinition* Quad(const char* name = nullptr) {
    auto* q = new SFXQuadElementDefinition();
    q->textureFileName = NameString();
    if (name) {
        char* copy = const_cast<char*>(name);
        RTTIValueStore<char*>::Assign(q->description, copy);
    }
    return q;
}

// Keys (seconds, value x) of a Vector envelope, linear unless step.
inline void Keys(TEnvelope<Vector>& e, std::vector<std::pair<float, float>> keys, bool step = false) {
    e.keyTimes.Clear();
    e.keys.Clear();
    for (auto& k : keys) {
        e.keyTimes.Add(EnvelopeKeyTime(k.first));
        e.keys.Add(Vector(k.second, k.second, k.second, k.second));
    }
    e.interpolation = step ? ENVELOPE_INTERPOLATION_NONE : ENVELOPE_INTERPOLATION_LINEAR;
}

inline void Loop(Envelope& e, const char* name, float start, float end) {
    EnvelopeLoop l;
    l.start = EnvelopeKeyTime(start);
    l.end = EnvelopeKeyTime(end);
    l.name = NameString(name);
    e.loops.Add(l);
}

inline SFXContext* MakeContext(SFXDefinition& d, uint32_t flags = 0, const Matrix& world = Matrix::IDENTITY) {
    EntityRenderingContextSetup s;
    s.world = world;
    s.creationFlags = ERC_FLAG_NO_GRID;
    auto* c = new SFXContext(s, nullptr, nullptr, flags);
    c->Setup(&d, world, false, 0);
    return c;
}

// Three distinct clocks, each with the same step.
struct Clocks {
    RenderFrameClock c[3] = {{0, 0.1f}, {0, 0.2f}, {0, 0.3f}};
    static Clocks All(float dt) {
        Clocks k;
        for (auto& c : k.c) c.frameTime = dt;
        return k;
    }
};

inline void Update(const Clocks& k) {
    rendertest::RunOnRenderThread([&] { SFXContext::UpdateAll(k.c); });
}

// Every effect sound call, in order, as text.
struct SoundRecorder {
    static std::vector<std::string>& Calls() {
        static std::vector<std::string> calls;
        return calls;
    }
    static unsigned& NextId() {
        static unsigned id = 100;
        return id;
    }
    static float& EntryVolume() {
        static float v = 0.5f;
        return v;
    }
    static void Install() {
        Calls().clear();
        NextId() = 100;
        static Recorder recorder;
        SetSceneSoundServices(&recorder);
    }
    static void Remove() { SetSceneSoundServices(nullptr); }

    // The effect sounds, recorded; emitters are a stand-in address.
    struct Recorder : SceneSoundServices {
        EntitySoundEmitter* CreateEmitter(const Matrix&) override {
            Calls().push_back("create");
            return reinterpret_cast<EntitySoundEmitter*>(uintptr_t(0xE1));
        }
        void PostEmitterTransform(EntitySoundEmitter*, const Matrix& m) override {
            Calls().push_back("move " + std::to_string(int(m.r[3].x)));
        }
        void ReleaseEmitter(EntitySoundEmitter*) override { Calls().push_back("release"); }
        unsigned PlayEntry(const char* name, EntitySoundEmitter*, unsigned channel, float volume,
                           float* entry) override {
            Calls().push_back(std::string("play ") + name);
            *entry = EntryVolume();
            return NextId() ? NextId()++ : 0u;
        }
        void SetVolume(unsigned id, float target, float seconds, unsigned curve, EntitySoundEmitter* owner) override {
            char text[96];
            std::snprintf(text, sizeof text, "volume %u %.3f %.2f %u %s", id, target, seconds, curve,
                          owner ? "own" : "none");
            Calls().push_back(text);
        }
        void ExitLoop(unsigned id, EntitySoundEmitter* owner) override {
            Calls().push_back("exit " + std::to_string(id) + (owner ? " own" : " none"));
        }
    };
};

}  // namespace sfxtest
