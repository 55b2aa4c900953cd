// Effect contexts: set-up, the sub-command executor, the per-frame update and the draw
// entries (see scene/sfx/SFXContext.h).
#include "scene/sfx/SFXContext.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/BaseThread.h"
#include "core/profiler/Profiler.h"
#include "engine/entity/EntityTemplate.h"
#include "render/VornexRenderer.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneCommand.h"
#include "render/scene/SceneParametersWrapper.h"
#include "scene/sfx/SFXEntity.h"

SFXContext* SFXContext::updateHead = nullptr;
SFXContext* SFXContext::updateTail = nullptr;
std::atomic<uint32_t> SFXContext::replacementsPosted{0};
std::atomic<uint32_t> SFXContext::replacementsApplied{0};

namespace {

template <class... T>
bool Read(CommandRingBuffer& r, T&... fields) {
    return (r.ReadValue(fields) && ...);
}

constexpr float kBoxMargin = 0.01f;
constexpr uint32_t kDropAfterFrames = 3;

Vector ClampedAtZero(const Vector& v) {
    return Vector(std::max(v.x, 0.0f), std::max(v.y, 0.0f), std::max(v.z, 0.0f), std::max(v.w, 0.0f));
}

// A heap copy of the name, carried by a record and freed by the executor.
char* CopyName(const char* name) {
    if (!name) return nullptr;
    const size_t n = std::strlen(name) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, name, n);
    return copy;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// SFXElementContext

SFXElementContext::SFXElementContext() = default;
SFXElementContext::~SFXElementContext() = default;

void SFXElementContext::Start(const SFXElementDefinition& d, const Matrix&, uint32_t, uint32_t) {
    Vector p, r, s;
    d.position.Evaluate(states[SFX_STATE_POSITION], p);
    d.rotation.Evaluate(states[SFX_STATE_ROTATION], r);
    d.scale.Evaluate(states[SFX_STATE_SCALE], s);
    elementMatrix.LoadComplexTransformation(p, r, s);
}

void SFXElementContext::Advance(const SFXElementDefinition& d, float dt) {
    bool playing = false;
    for (uint32_t i = 0; i < d.envelopeBindings.Count(); ++i) {
        const SFXEnvelopeBinding& b = d.envelopeBindings[i];
        if (b.envelope && b.state < SFX_STATE_COUNT && !b.envelope->Advance(states[b.state], dt)) playing = true;
    }
    stillPlaying = playing ? 1 : 0;
}

void SFXElementContext::Update(const RenderFrameClock&, float dt, const SFXElementDefinition& d, const Matrix&) {
    Advance(d, dt);
    Vector p, r, s;
    d.position.Evaluate(states[SFX_STATE_POSITION], p);
    d.rotation.Evaluate(states[SFX_STATE_ROTATION], r);
    d.scale.Evaluate(states[SFX_STATE_SCALE], s);
    Matrix complex, pivot;
    complex.LoadComplexTransformation(p, r, s);
    pivot.LoadTranslation(d.pivot);
    elementMatrix.Mul(complex, pivot);
}

// ---------------------------------------------------------------------------------------
// SFXContext: main thread

SFXContext::SFXContext(const EntityRenderingContextSetup& setup, void* entity, EntityTemplate* t, uint32_t flags)
    : EntityRenderingContext(setup), contextFlags(flags), ownerEntity(entity), ownerTemplate(t) {}

SFXContext::~SFXContext() {
    // Deleted without Release (never handed to the renderer): out of the chain here.
    if (inChain) LeaveChain();
    Unlink();
    for (uint32_t i = 0; i < elementCount; ++i) delete elementContexts[i];
    delete[] elementContexts;
}

void SFXContext::ParentMatrices(const Matrix& m, const Vector& s, Matrix& scaled, Matrix& normalised) {
    scaled = m;
    normalised = m;
    const float k[3] = {s.x, s.y, s.z};
    for (int i = 0; i < 3; ++i) {
        Vector& a = scaled.r[i];
        a = Vector(a.x * k[i], a.y * k[i], a.z * k[i], a.w * k[i]);
        Vector& n = normalised.r[i];
        const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        const float f = length > 0.0f ? k[i] / length : 0.0f;
        n = Vector(n.x * f, n.y * f, n.z * f, n.w * f);
    }
}

template <class... T>
void SFXContext::Post(uint32_t command, const T&... data) {
    PostObjectCall(&ExecuteRenderCommand, command, this, data...);
}

void SFXContext::PostNamed(uint32_t command, const char* name, const void* value, uint32_t valueBytes) {
    // The name travels whole as a heap copy that the executor frees; the value (at most a
    // Vector) goes in the record.
    char* copy = CopyName(name);
    if (name && !copy) return;
    Vector v;
    if (value && valueBytes) std::memcpy(&v, value, std::min<uint32_t>(valueBytes, sizeof v));
    if (!PostObjectCall(&ExecuteRenderCommand, command, this, v, copy)) std::free(copy);
}

void SFXContext::Setup(SFXDefinition* d, const Matrix& parent, bool keepStates, uint32_t extra) {
    if (!d) return;
    const bool firstCall = !bound;
    if (firstCall) {
        bound = true;
        definition = d;
        contextFlags &= ~(SFX_CONTEXT_SECONDARY | SFX_CONTEXT_SECOND_FLAG);
        if (d->secondaryPass) contextFlags |= SFX_CONTEXT_SECONDARY;
        if (d->secondFlag) contextFlags |= SFX_CONTEXT_SECOND_FLAG;
        chainPrevious = d->lastContext;
        chainNext = nullptr;
        if (d->lastContext) d->lastContext->chainNext = this;
        else d->firstContext = this;
        d->lastContext = this;
        inChain = true;
        useFSEColor = 1;
        if (ownerEntity && ownerTemplate && ownerTemplate->GetTypeId() == ENTITY_SFX)
            useFSEColor = static_cast<const SFXTemplate*>(ownerTemplate)->useFSEColorMultiplier ? 1 : 0;
    }
    finished.store(0, std::memory_order_release);
    Matrix scaled, normalised;
    ParentMatrices(parent, d->scaleForAllElements, scaled, normalised);
    const uint32_t count = d->elements.Count();
    SFXElementContext** array = count ? new SFXElementContext*[count] : nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        array[i] = nullptr;
        const SFXElementDefinition* e = d->elements[i];
        if (!e || !e->enabled) continue;
        array[i] = e->CreateContext();
        if (array[i]) array[i]->Start(*e, e->scaleWithParent ? scaled : normalised, contextFlags, extra);
    }
    if (!firstCall) {
        gVornexRenderer.FlushCommands(true);
        if (keepStates && count == mainCount) {
            for (uint32_t i = 0; i < count; ++i) {
                SFXElementContext* o = mainElements[i];
                SFXElementContext* n = array[i];
                const SFXElementDefinition* e = d->elements[i];
                if (!o || !n || !e) continue;
                for (uint32_t b = 0; b < e->envelopeBindings.Count(); ++b) {
                    const uint32_t s = e->envelopeBindings[b].state;
                    if (s < SFX_STATE_COUNT) n->states[s] = o->states[s];
                }
                n->TakeOver(o);
            }
        }
    }
    mainElements = array;
    mainCount = count;
    replacementsPosted.fetch_add(1);
    const uint8_t first = firstCall ? 1 : 0;
    if (!PostObjectCall(&ExecuteRenderCommand, SFX_CMD_SET_ELEMENT_CONTEXTS, this, count, array, first)) {
        // Never handed over: freed here.
        for (uint32_t i = 0; i < count; ++i) delete array[i];
        delete[] array;
        mainElements = nullptr;
        mainCount = 0;
    }
    setupFrame.store(gVornexRenderer.CompletedFrames(), std::memory_order_relaxed);
}

void SFXContext::Restart(uint8_t value, uint8_t suppressSound) { Post(SFX_CMD_RESTART, value, suppressSound); }
void SFXContext::Stop() { Post(SFX_CMD_STOP); }
void SFXContext::SetSpeedMultiplier(float value) { Post(SFX_CMD_SET_SPEED_MULTIPLIER, value); }
void SFXContext::SetSpawnRateMultiplier(float value) { Post(SFX_CMD_SET_SPAWN_RATE_MULTIPLIER, value); }
void SFXContext::SetElementLocalColor(const char* name, const Vector& colour) {
    PostNamed(SFX_CMD_SET_ELEMENT_LOCAL_COLOR, name, &colour, sizeof colour);
}
void SFXContext::SetElementSpeedMultiplier(const char* name, float value) {
    PostNamed(SFX_CMD_SET_ELEMENT_SPEED_MULTIPLIER, name, &value, sizeof value);
}
void SFXContext::BreakLoop(const char* name) { PostNamed(SFX_CMD_BREAK_LOOP, name, nullptr, 0); }
void SFXContext::ActivateLoop(const char* name) { PostNamed(SFX_CMD_ACTIVATE_LOOP, name, nullptr, 0); }
void SFXContext::AdvanceTime(float seconds) { Post(SFX_CMD_ADVANCE_TIME, seconds); }
void SFXContext::SetSpawner(ParticleSpawner* spawner) { Post(SFX_CMD_SET_SPAWNER, spawner); }
void SFXContext::FadeOutAndMute(float seconds, uint8_t muted) { Post(SFX_CMD_FADE_OUT_AND_MUTE, seconds, muted); }
void SFXContext::SetPassMasks(uint32_t andMask, uint32_t orMask) { Post(SFX_CMD_SET_PASS_MASKS, andMask, orMask); }
void SFXContext::SetElementValue(const char* name, float value) {
    PostNamed(SFX_CMD_SET_ELEMENT_VALUE, name, &value, sizeof value);
}
void SFXContext::SetLocalColorAll(const Vector& colour) { Post(SFX_CMD_SET_LOCAL_COLOR_ALL, colour); }

void SFXContext::RefreshMeshTemplate(EntityTemplate* t) {
    if (!definition || !t) return;
    bool flushed = false;
    for (uint32_t i = 0; i < definition->elements.Count(); ++i) {
        SFXElementDefinition* e = definition->elements[i];
        if (!e || !e->IsMeshElement() || e->GetTemplate() != t) continue;
        // The render thread draws with the element's box, preset and pass mask: it must
        // have finished with them before they change.
        if (!flushed) gVornexRenderer.FlushCommands(true);
        flushed = true;
        e->RefreshFromTemplate();
        const SFXElementDefinition* constElement = e;
        Post(SFX_CMD_REBIND_ELEMENT, i, constElement);
    }
}

void SFXContext::ReapplyAll() {
    CriticalSectionGuard guard(gSFXDefinitionListLock);
    for (SFXDefinition* d = SFXDefinition::FirstLive(); d; d = d->NextLive())
        for (SFXContext* c = d->firstContext; c; c = c->chainNext) c->Setup(d, Matrix::IDENTITY, true, 0);
}

void SFXContext::LeaveChain() {
    if (definition && inChain) {
        if (chainPrevious) chainPrevious->chainNext = chainNext;
        else definition->firstContext = chainNext;
        if (chainNext) chainNext->chainPrevious = chainPrevious;
        else definition->lastContext = chainPrevious;
        chainPrevious = chainNext = nullptr;
    }
    inChain = false;
}

void SFXContext::Release() {
    LeaveChain();
    mainElements = nullptr;
    mainCount = 0;
    EntityRenderingContext::Release();
}

bool SFXContext::FetchBoundingBox(BoundingBox4* box) {
    if (boxCounts.First() == boxCounts.Second()) return false;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (box) *box = publishedBox;
    while (boxCounts.Second() != boxCounts.First()) boxCounts.IncrementSecond();
    return true;
}

// ---------------------------------------------------------------------------------------
// Render thread: the executor

void SFXContext::ExecuteRenderCommand(uint32_t command, CommandRingBuffer& r) {
    SFXContext* c = nullptr;
    if (!Read(r, c)) return;
    if (c) c->Apply(command, r);
    else if (command == SFX_CMD_SET_ELEMENT_LOCAL_COLOR || command == SFX_CMD_SET_ELEMENT_SPEED_MULTIPLIER ||
             command == SFX_CMD_BREAK_LOOP || command == SFX_CMD_ACTIVATE_LOOP || command == SFX_CMD_SET_ELEMENT_VALUE) {
        Vector v;
        char* name = nullptr;
        if (Read(r, v) && Read(r, name)) std::free(name);
    }
}

void SFXContext::Apply(uint32_t command, CommandRingBuffer& r) {
    auto each = [this](auto&& f) {
        for (uint32_t i = 0; i < elementCount; ++i)
            if (elementContexts[i]) f(*elementContexts[i], i);
    };
    const uint32_t defined = definition ? definition->elements.Count() : 0;
    auto matching = [&](const char* name, auto&& f) {
        each([&](SFXElementContext& e, uint32_t i) {
            if (i < defined && definition->elements[i] && definition->elements[i]->NameMatches(name)) f(e);
        });
    };
    switch (command) {
        case SFX_CMD_RESTART: {
            uint8_t unused = 0, suppress = 0;
            if (!Read(r, unused) || !Read(r, suppress)) return;
            if (suppress) each([](SFXElementContext& e, uint32_t) { e.OnRestart(); });
            running = true;
            break;
        }
        case SFX_CMD_STOP:
            running = false;
            each([](SFXElementContext& e, uint32_t) { e.Stop(); });
            break;
        case SFX_CMD_SET_ELEMENT_CONTEXTS: {
            uint32_t count = 0;
            SFXElementContext** array = nullptr;
            uint8_t first = 0;
            if (!Read(r, count) || !Read(r, array) || !Read(r, first)) return;
            for (uint32_t i = 0; i < elementCount; ++i) delete elementContexts[i];
            delete[] elementContexts;
            elementContexts = array;
            elementCount = count;
            if (first) Link();
            replacementsApplied.fetch_add(1);
            break;
        }
        case SFX_CMD_SET_SPEED_MULTIPLIER:
        case SFX_CMD_SET_SPAWN_RATE_MULTIPLIER: {
            float value = 0.0f;
            if (!Read(r, value)) return;
            value = std::max(value, 0.0f);
            if (command == SFX_CMD_SET_SPEED_MULTIPLIER) {
                speedMultiplier = value;
                each([value](SFXElementContext& e, uint32_t) { e.SetSpeedMultiplier(value); });
            } else {
                spawnRateMultiplier = value;
                each([value](SFXElementContext& e, uint32_t) { e.SetSpawnRateMultiplier(value); });
            }
            break;
        }
        case SFX_CMD_SET_ELEMENT_LOCAL_COLOR:
        case SFX_CMD_SET_ELEMENT_SPEED_MULTIPLIER:
        case SFX_CMD_BREAK_LOOP:
        case SFX_CMD_ACTIVATE_LOOP:
        case SFX_CMD_SET_ELEMENT_VALUE: {
            Vector v;
            char* name = nullptr;
            if (!Read(r, v) || !Read(r, name)) return;
            if (command == SFX_CMD_SET_ELEMENT_LOCAL_COLOR) matching(name, [&](SFXElementContext& e) { e.localColor = v; });
            else if (command == SFX_CMD_SET_ELEMENT_SPEED_MULTIPLIER)
                matching(name, [&](SFXElementContext& e) { e.SetSpeedMultiplier(v.x); });
            else if (command == SFX_CMD_SET_ELEMENT_VALUE)
                matching(name, [&](SFXElementContext& e) { e.SetElementValue(v.x); });
            else if (command == SFX_CMD_BREAK_LOOP) BreakLoopNow(name);
            else ActivateLoopNow(name);
            std::free(name);
            break;
        }
        case SFX_CMD_FADE_OUT_AND_MUTE: {
            float seconds = 0.0f;
            uint8_t muted = 0;
            if (!Read(r, seconds) || !Read(r, muted)) return;
            each([&](SFXElementContext& e, uint32_t) {
                e.FadeOut(seconds);
                e.SetMuted(muted);
            });
            break;
        }
        case SFX_CMD_ADVANCE_TIME: {
            float dt = 0.0f;
            if (!Read(r, dt)) return;
            each([&](SFXElementContext& e, uint32_t i) {
                if (i < defined && definition->elements[i]) e.Advance(*definition->elements[i], dt);
            });
            break;
        }
        case SFX_CMD_SET_PASS_MASKS:
            if (!Read(r, passAndMask) || !Read(r, passOrMask)) return;
            break;
        case SFX_CMD_SET_SPAWNER: {
            ParticleSpawner* spawner = nullptr;
            if (!Read(r, spawner)) return;
            each([spawner](SFXElementContext& e, uint32_t) { e.SetSpawner(spawner); });
            break;
        }
        case SFX_CMD_SET_LOCAL_COLOR_ALL: {
            Vector v;
            if (!Read(r, v)) return;
            each([&](SFXElementContext& e, uint32_t) { e.localColor = v; });
            break;
        }
        case SFX_CMD_REBIND_ELEMENT: {
            uint32_t index = 0;
            const SFXElementDefinition* d = nullptr;
            if (!Read(r, index) || !Read(r, d)) return;
            if (index < elementCount && elementContexts[index] && d) elementContexts[index]->Rebind(*d);
            break;
        }
        default:
            break;
    }
}

void SFXContext::ForEachEnvelopeState(void (Envelope::*apply)(EnvelopeState&, const char*) const, const char* name) {
    if (!definition) return;
    const uint32_t n = std::min(elementCount, definition->elements.Count());
    for (uint32_t i = 0; i < n; ++i) {
        SFXElementContext* e = elementContexts[i];
        const SFXElementDefinition* d = definition->elements[i];
        if (!e || !d) continue;
        for (uint32_t b = 0; b < d->envelopeBindings.Count(); ++b) {
            const SFXEnvelopeBinding& binding = d->envelopeBindings[b];
            if (binding.envelope && binding.state < SFX_STATE_COUNT)
                (binding.envelope->*apply)(e->states[binding.state], name);
        }
    }
}

void SFXContext::BreakLoopNow(const char* name) { ForEachEnvelopeState(&Envelope::BreakLoop, name); }
void SFXContext::ActivateLoopNow(const char* name) { ForEachEnvelopeState(&Envelope::ActivateLoop, name); }

// ---------------------------------------------------------------------------------------
// Render thread: the update list

void SFXContext::Link() {
    if (linked) return;
    updatePrevious = updateTail;
    updateNext = nullptr;
    if (updateTail) updateTail->updateNext = this;
    else updateHead = this;
    updateTail = this;
    linked = true;
}

void SFXContext::Unlink() {
    if (!linked) return;
    if (updatePrevious) updatePrevious->updateNext = updateNext;
    else updateHead = updateNext;
    if (updateNext) updateNext->updatePrevious = updatePrevious;
    else updateTail = updatePrevious;
    updatePrevious = updateNext = nullptr;
    linked = false;
}

void SFXContext::UpdateAll(const RenderFrameClock clocks[3]) {
    gProfiler.StartTimer(PROFILE_SFX_TIME, PROFILER_THREAD_RENDER);
    for (SFXContext* c = updateHead; c;) {
        SFXContext* next = c->updateNext;
        c->UpdateOne(clocks);
        c = next;
    }
    gProfiler.StopTimer(PROFILE_SFX_TIME, PROFILER_THREAD_RENDER);
}

void SFXContext::UpdateOne(const RenderFrameClock clocks[3]) {
    if (running && definition) {
        const RenderFrameClock& clock = (contextFlags & SFX_CONTEXT_CLOCK_SYSTEM)     ? clocks[0]
                                        : (contextFlags & SFX_CONTEXT_CLOCK_GAMEPLAY) ? clocks[2]
                                                                                      : clocks[1];
        const float dt = speedMultiplier * clock.frameTime;
        time += dt;
        bool anyLeft = false;
        const uint32_t n = std::min(elementCount, definition->elements.Count());
        if (n) {
            Matrix scaled, normalised;
            ParentMatrices(World(), definition->scaleForAllElements, scaled, normalised);
            BoundingBox4 box(Vector(3.4028235e38f, 3.4028235e38f, 3.4028235e38f, 3.4028235e38f),
                             Vector(-3.4028235e38f, -3.4028235e38f, -3.4028235e38f, -3.4028235e38f));
            bool expanded = false;
            for (uint32_t i = 0; i < n; ++i) {
                SFXElementContext* e = elementContexts[i];
                const SFXElementDefinition* d = definition->elements[i];
                if (!e || !d || !d->enabled) continue;
                e->Update(clock, dt, *d, d->scaleWithParent ? scaled : normalised);
                if (e->stillPlaying) anyLeft = true;
                if (!d->expandsBoundingBox) continue;
                BoundingBox4 t;
                t.Transform3D(e->localBox, e->elementMatrix);
                if (d->faceCameraMode != SFX_FACE_NONE) {
                    float h = 0.0f;
                    for (int k = 0; k < 3; ++k) h = std::max({h, std::fabs(t.min[k]), std::fabs(t.max[k])});
                    t = BoundingBox4(Vector(-h, -h, -h, 1), Vector(h, h, h, 1));
                }
                box.Expand(t);
                expanded = true;
            }
            if (expanded && boxCounts.First() == boxCounts.Second()) {
                const Vector& s = definition->scaleForAllElements;
                BoundingBox4 scaledBox(Vector(box.min.x * s.x, box.min.y * s.y, box.min.z * s.z, 1),
                                       Vector(box.max.x * s.x, box.max.y * s.y, box.max.z * s.z, 1));
                BoundingBox4 grown(Vector(scaledBox.min.x - kBoxMargin, scaledBox.min.y - kBoxMargin,
                                          scaledBox.min.z - kBoxMargin, 1),
                                   Vector(scaledBox.max.x + kBoxMargin, scaledBox.max.y + kBoxMargin,
                                          scaledBox.max.z + kBoxMargin, 1));
                // The entity keeps its box local: the published one is in world space.
                publishedBox.Transform3D(grown, World());
                boxCounts.IncrementFirst();
            }
        }
        finished.store(anyLeft ? 0 : 1, std::memory_order_release);
    }
    if ((contextFlags & SFX_CONTEXT_DROP_UNDRAWN) &&
        gVornexRenderer.CompletedFrames() > setupFrame.load(std::memory_order_relaxed) + kDropAfterFrames)
        Unlink();
}

// ---------------------------------------------------------------------------------------
// Render thread: drawing

uint32_t SFXContext::ViewBit(uint32_t f) { return (f & 0x2000) ? 4u : (f & 0x1000) ? 2u : 1u; }

bool SFXContext::Takes(uint32_t i, uint32_t viewBit) const {
    const SFXElementDefinition* d = definition->elements[i];
    return elementContexts[i] && d && (d->viewMask & viewBit);
}

Matrix SFXContext::ElementWorld(const SFXElementDefinition& d, const SFXElementContext& e) const {
    Matrix scaled, normalised, world;
    ParentMatrices(drawParent, definition->scaleForAllElements, scaled, normalised);
    world.Mul(d.scaleWithParent ? scaled : normalised, e.elementMatrix);
    if (d.faceCameraMode == SFX_FACE_NONE) return world;
    Matrix aligned;
    aligned.LoadAlignedToTarget(world, d.faceCameraMode, gVornexRenderer.CameraWorldMatrix(), d.faceCameraOffset);
    return aligned;
}

void SFXContext::RenderMain(uint32_t passMask, uint32_t givenFlags, const Vector& given) {
    Link();
    if (!running || !definition || !elementCount) return;
    const uint32_t f = (givenFlags & passAndMask) | passOrMask;
    if (f & 1) return;
    // The colour multiplier is the local colour; the template colour the context also
    // receives is the editor's wireframe colour and tints nothing here.
    const Vector contextColour = LocalColor() * given;
    const uint32_t viewBit = ViewBit(f);
    const bool meshesOnly = (f & 16) != 0;
    Vector fse(1, 1, 1, 1);
    if (useFSEColor && gRendererScene)
        if (const SceneParametersWrapper* set = gRendererScene->GetCurrentParameters())
            fse = set->Values().rest.sfxColorMultiplier.ToLinearVector();
    const uint32_t n = std::min(elementCount, definition->elements.Count());
    for (uint32_t i = 0; i < n; ++i) {
        if (!Takes(i, viewBit)) continue;
        SFXElementDefinition& d = *definition->elements[i];
        if (meshesOnly && !d.IsMeshElement()) continue;
        if (!(d.passMask & passMask)) continue;
        SFXElementContext& e = *elementContexts[i];
        HDRColor sample;
        d.color.Evaluate(e.states[SFX_STATE_COLOR], sample);
        if (sample.c[3] == 0) continue;
        Vector colour = ClampedAtZero(sample.ToLinearVector()) * (e.localColor * contextColour);
        if (useFSEColor && d.useFSEColorMult) colour = colour * fse;
        d.Render(&e, ElementWorld(d, e), colour, passMask);
    }
}

void SFXContext::RenderSecondaryPass(uint32_t givenFlags) {
    if (!running || !definition || !elementCount) return;
    const uint32_t viewBit = ViewBit((givenFlags & passAndMask) | passOrMask);
    const uint32_t n = std::min(elementCount, definition->elements.Count());
    for (uint32_t i = 0; i < n; ++i) {
        if (!Takes(i, viewBit)) continue;
        SFXElementDefinition& d = *definition->elements[i];
        if (!d.secondaryPass) continue;
        SFXElementContext& e = *elementContexts[i];
        HDRColor sample;
        d.color.Evaluate(e.states[SFX_STATE_COLOR], sample);
        if (sample.c[3] == 0) continue;
        d.RenderSecondary(&e, ElementWorld(d, e));
    }
}

bool SFXContext::QueryShadowPass(uint32_t givenFlags) {
    if (!running || !definition || !elementCount) return false;
    const uint32_t viewBit = ViewBit((givenFlags & passAndMask) | passOrMask);
    bool any = false;
    const uint32_t n = std::min(elementCount, definition->elements.Count());
    for (uint32_t i = 0; i < n; ++i)
        if (Takes(i, viewBit) && (definition->elements[i]->passMask & 32))
            any = definition->elements[i]->QueryPass(elementContexts[i]) || any;
    return any;
}

bool SFXContext::RenderShadowPass(uint32_t givenFlags) {
    if (!running || !definition || !elementCount) return false;
    const uint32_t viewBit = ViewBit((givenFlags & passAndMask) | passOrMask);
    bool any = false;
    const uint32_t n = std::min(elementCount, definition->elements.Count());
    for (uint32_t i = 0; i < n; ++i) {
        if (!Takes(i, viewBit)) continue;
        SFXElementDefinition& d = *definition->elements[i];
        if (d.passMask & 32) any = d.RenderShadow(elementContexts[i], ElementWorld(d, *elementContexts[i])) || any;
    }
    return any;
}

void SFXContext::Draw(void*, const Matrix& world, const RenderTaskArguments& arguments) {
    drawParent = world;
    // The deferred third pass (8) also runs the secondary walk of effects that have one.
    if (arguments.pass == 8 && (contextFlags & SFX_CONTEXT_SECONDARY)) RenderSecondaryPass(arguments.flags);
    RenderMain(arguments.pass ? arguments.pass : 0xFFFFFFFFu, arguments.flags, arguments.vector);
}

bool SFXContext::DrawPassMask(void*, const Matrix& world) {
    drawParent = world;
    if (!QueryShadowPass(0)) return false;
    return RenderShadowPass(0);
}
