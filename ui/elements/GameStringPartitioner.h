#pragma once
// GameStringPartitioner: shows a localised string line by line on a text element, each
// line for an equal share of a total time, cross-fading from line to line, and tells the
// string's speaker. Scripts make one per string, start it and feed it the time.
//
// The partitioner keeps its own copy of the looked-up text (a language change may free
// the store's) and holds the element weakly: a released element ends the showing, never
// the partitioner.
//
// Threads: main thread.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/rtti/SafePointer.h"
#include "core/text/NameString.h"

class UITextBase;

class GameStringPartitioner {
public:
    static constexpr uint32_t kFinished = 0xFFFFFFFFu;
    // The most characters one part shows.
    static constexpr uint32_t kMaxPartCharacters = 2047;

    GameStringPartitioner() = default;
    GameStringPartitioner(const GameStringPartitioner&) = delete;
    GameStringPartitioner& operator=(const GameStringPartitioner&) = delete;
    // The scripts' constructor.
    static GameStringPartitioner* Instance() { return new GameStringPartitioner; }

    // Looks the id up (current language; "stringId %s is empty!" when it is missing) and,
    // with an element, splits it at its line feeds, each part lasting totalTime / parts,
    // and shows part 0 (with a total time not above 0, the last part at once). True when
    // both the id and the element are given.
    bool StartGameStringPartitioning(const char* stringId, UITextBase* element, float totalTime);
    // Shows the part the time (seconds since the start) falls in; past the last part the
    // partitioner is finished.
    void Update(float seconds);
    // Cross-fades the element to no text (its actions removed first).
    void Clear();

    void SetTextFadeTime(float seconds) { fadeTime = seconds; }
    void SetTextFadeFlags(uint32_t flags) { fadeFlags = flags; }
    float GetTextFadeTime() const { return fadeTime; }
    // The speaker the lookup named ("" for none).
    const char* GetSpeaker() const { return speaker.CStr(); }

    uint32_t PartCount() const { return parts.count; }
    uint32_t CurrentPart() const { return currentPart; }
    float PartTime() const { return partTime; }

private:
    void ShowPart(uint32_t index);

    Dynarray<uint32_t> parts;   // offsets of each part's first character in text
    Dynarray<char16_t> text;    // the looked-up text, zero-terminated
    uint32_t currentPart = 0;
    float partTime = 1.0f;
    float fadeTime = 0.3f;
    uint32_t fadeFlags = 0;
    SafePointer<UITextBase> element;
    NameString speaker;
};
