#pragma once
// Text helpers shared by the file system, the user interface, text input and the
// network code: conversion between 8-bit and UTF-16 text, upper-casing of UTF-16
// text by a fixed table, and character replacement. UTF-16 text is char16_t. The
// single-byte code page is UTF-8: every code page converts as UTF-8, and invalid
// input becomes U+FFFD instead of failing. All functions are thread-safe.
#include <cstdint>

constexpr uint32_t kCodePageANSI = 0;
constexpr uint32_t kCodePageUTF8 = 65001;

// Replaces every `from` by `to` in a zero-terminated string; nothing for null.
void ReplaceChar(char* text, char from, char to);

// Units before the terminating 0; 0 for null.
uint32_t UTF16Length(const char16_t* text);

// One (lower, upper) pair of the case table, sorted by the lower unit.
struct UTF16CasePair {
    char16_t lower;
    char16_t upper;
};
// Orders pairs by the lower unit (qsort/bsearch style).
int CompareUTF16CasePair(const void* a, const void* b);
// The table (666 pairs) and its size.
const UTF16CasePair* GetUTF16CaseTable(uint32_t* count);

// Upper-cases a zero-terminated UTF-16 string in place through the table. With
// skipTags, a '|' starts a stretch copied unchanged up to and including the next
// '|'; when no closing '|' follows, nothing after the opening one changes.
void ToUpperUTF16(char16_t* text, bool skipTags);

// length: units (or bytes) of the input; -1 means zero-terminated, terminator
// included in the output. An empty or null input (or length 0) writes an empty
// terminated output and returns true. Otherwise the output is not terminated beyond
// what the input holds; false when it does not fit in outSize units (or bytes) or
// nothing was produced.
bool WideToMultiByte(char* out, uint32_t outSize, const char16_t* text, int32_t length, uint32_t codePage);
bool MultiByteToWide(char16_t* out, uint32_t outSize, const char* text, int32_t length, uint32_t codePage);
// MultiByteToWide of a zero-terminated input, terminator excluded: the output is not
// terminated; callers terminate it at the input length.
bool MultiByteToWideZ(char16_t* out, uint32_t outSize, const char* text, uint32_t codePage);
// Decodes length bytes of UTF-8 into out (invalid bytes become U+FFFD) and returns the
// units written; stops before a character that does not fit in outSize units.
uint32_t UTF8ToUTF16(char16_t* out, uint32_t outSize, const char* text, uint32_t length);
