#pragma once
// Loading a shared library at run time, for the benchmark that compares this mixer
// with a system audio library without making that library a link dependency.
namespace audio {

// Null when the library cannot be loaded.
void* OpenSharedLibrary(const char* fileName);
// Null when the library lacks the symbol.
void* FindSharedSymbol(void* library, const char* name);
void CloseSharedLibrary(void* library);

}  // namespace audio
