#pragma once
// Envelopes: keyed curves over time that effects, scene parameters and envelope entities
// play back.
//
// An envelope is data: key times in 1/1024 s (non-decreasing), one value per key, an
// interpolation type, a constant value standing in when the curve is off or empty, and
// up to 32 named loop ranges that hold playback inside a stretch of the curve until
// the loop is broken. It is a property-system object stored with whatever owns it (an
// envelope template, an effect element, a scene-parameter template). Playback never
// changes it: every player keeps its own EnvelopeState, so one envelope serves any
// number of players.
//
// Playing: construct or Reset a state; each frame Advance(state, dt), then
// Evaluate(state, value); BreakLoop / ActivateLoop when the owner asks. Advance moves
// the state's key index forward incrementally (a binary search runs only when a loop
// wraps); Evaluate reads that index and never searches.
//
// Stored data the playback cannot make sense of is kept as it is (written back
// unchanged) and played harmlessly; the envelope logs one warning when it is loaded:
//   - a loop whose End does not exceed its Start is never current and never wraps;
//   - only loops 0 to 31 take part;
//   - key times and keys of different counts play with the smaller count;
//   - an interpolation type above 2 plays as "None".
//
// Threads: Advance, Evaluate and the loop calls only read the envelope, so any thread
// may play it (SFX contexts on the render thread, entities on the main thread) as long
// as nobody edits it meanwhile. A state belongs to one player.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/HDRColor.h"
#include "core/math/Vector.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

constexpr uint32_t kEnvelopeMaxLoops = 32;      // loops that can be broken or re-activated
constexpr uint32_t kEnvelopeNoLoop = 32;        // current loop: none
constexpr float kEnvelopeKeyTimesPerSecond = 1024.0f;

enum EnvelopeInterpolation : uint32_t {
    ENVELOPE_INTERPOLATION_NONE = 0,  // step curve: the key that opens the interval
    ENVELOPE_INTERPOLATION_LINEAR = 1,
    ENVELOPE_INTERPOLATION_CUBIC_BEZIER = 2,  // segments of four keys sharing their ends
};

// How the key value meets the constant value; fixed by the owner at construction.
enum EnvelopeCombineMode : uint8_t {
    ENVELOPE_COMBINE_KEYS_ONLY = 0,
    ENVELOPE_COMBINE_MULTIPLY = 1,  // key value x constant value
    ENVELOPE_COMBINE_ADD = 2,       // key value + constant value
};

// Key time (1/1024 s, unsigned) of a playback time in seconds: trunc(t x 1024).
// Times at or below 0 (and NaN) give 0; times past the range give the largest key time.
uint32_t EnvelopeKeyTime(float seconds);

// A named stretch [Start, End) of key time that holds playback until it is broken.
struct EnvelopeLoop {
    uint32_t start = 0;  // key-time units
    uint32_t end = 0;    // key-time units; a loop plays only when End > Start
    NameString name;     // empty: matches no name

    bool IsValid() const { return end > start; }
    static const RTTIClass* RegisterClass();
};

// Playback state of one player; all zero is a valid start.
struct EnvelopeState {
    float time = 0.0f;          // seconds since the start of playback, never negative
    uint32_t brokenLoops = 0;   // bit i set: loop i no longer holds the playback
    uint32_t currentLoop = 0;   // loop holding the playback; 32 or not below the loop count: none
    uint32_t keyIndex = 0;      // key opening the interval that contains the time

    // Time 0, key index 0, current loop the lowest one not broken (32 when all are);
    // the broken-loop mask is kept.
    void Reset();
    // Breaks loop i (modulo 32); a current loop that is now broken moves on to the next
    // unbroken index (or 32).
    void BreakLoopIndex(uint32_t i);
};

class Envelope : public RTTIPolyBaseClass {
public:
    // Linear, enabled, no keys, no loops.
    explicit Envelope(uint8_t combineMode = ENVELOPE_COMBINE_KEYS_ONLY);
    Envelope(const Envelope& other);
    Envelope& operator=(const Envelope&) = delete;
    ~Envelope() override;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    // Logs the one warning about data the playback has to work around.
    void OnLoaded(uint32_t options) override;

    // A new envelope of the same type, copied in full (combine mode included).
    virtual Envelope* Clone() const = 0;
    // Copies interpolation type, combine mode, enabled flag, key times, key flags and
    // loops; the typed envelopes also copy the constant value and keys when other is of
    // their own type.
    virtual void Assign(const Envelope& other);

    // Moves the state on by dt seconds (a negative or NaN dt does not move it). True when
    // the playback has passed the last key and no loop holds it.
    bool Advance(EnvelopeState& state, float dt) const;
    // 0 no keys (nothing written); 1 at or after the last key (previous = last index);
    // 2 at or before the first key (next = 0); 3 between two keys (T[previous] < keyTime
    // <= T[next], next = previous + 1).
    uint32_t FindKeyInterval(uint32_t keyTime, uint32_t& previous, uint32_t& next) const;
    // Index of the first loop bearing the name (exact bytes), -1 when none; null or empty
    // names match nothing.
    int32_t FindLoopByName(const char* name) const;
    // Breaks the named loop (a name no loop bears changes nothing), or every loop for a
    // null name. Time and key index stay.
    void BreakLoop(EnvelopeState& state, const char* name) const;
    // Re-activates the named loop (nothing for an unknown name), or every loop for a null
    // name; then restarts the playback at time 0 in every case.
    void ActivateLoop(EnvelopeState& state, const char* name) const;

    // Keys that take part in playback: the smaller of the key-time and key counts.
    uint32_t PlayedKeyCount() const;
    // The interpolation as played: types above 2 play as "None".
    uint32_t PlayedInterpolation() const;
    // True when the stored data needs one of the playback's work-arounds.
    bool HasUnplayableData() const;

    Dynarray<uint32_t> keyTimes;   // "KeyTimes"
    Dynarray<uint8_t> keyFlags;    // "KeyFlags": stored and copied, never played
    DynarraySafe<EnvelopeLoop> loops;  // "Loops"
    uint32_t interpolation = ENVELOPE_INTERPOLATION_LINEAR;  // "Interpolation type"
    uint8_t combineMode;
    bool enabled = true;  // "Envelope enabled"

protected:
    // Number of stored values (keys) of the typed envelope.
    virtual uint32_t ValueCount() const = 0;
    // Loops that take part in playback: at most the first 32.
    uint32_t PlayedLoopCount() const;
};

// The typed envelopes: Vector (four floats) and HDRColor (four 8-bit channels and an
// intensity).
template <class T>
class TEnvelope : public Envelope {
public:
    explicit TEnvelope(uint8_t combineMode = ENVELOPE_COMBINE_KEYS_ONLY) : Envelope(combineMode) {}
    TEnvelope(const TEnvelope& other) = default;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    TEnvelope* Clone() const override { return new TEnvelope(*this); }
    void Assign(const Envelope& other) override;

    void GetConstantValue(T& value) const { value = constantValue; }
    void SetConstantValue(const T& value) { constantValue = value; }

    // The value at the state's time: the constant value when disabled or without keys;
    // else key 0 up to the first key time, the last key from the last key time on, the
    // interpolation at the state's key index between them; then the combine mode.
    void Evaluate(const EnvelopeState& state, T& value) const;
    // The curve between key k and k + 1 at time t (seconds), by the interpolation type.
    // k + 1 must be a played key.
    void Interpolate(uint32_t k, float t, T& value) const;

    T constantValue{};   // "Constant value"
    Dynarray<T> keys;    // "Keys"

protected:
    uint32_t ValueCount() const override { return keys.Count(); }
};

template <>
const RTTIClass* TEnvelope<Vector>::RegisterClass();
template <>
const RTTIClass* TEnvelope<HDRColor>::RegisterClass();

extern template class TEnvelope<Vector>;
extern template class TEnvelope<HDRColor>;
