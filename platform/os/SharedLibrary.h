#pragma once
// Loading optional shared libraries at run time (optional input and lighting libraries,
// and benchmarks that compare with a system library without linking it).
namespace os {

// Null when the library cannot be loaded.
void* OpenSharedLibrary(const char* fileName);
// Null when the library lacks the symbol.
void* FindSharedSymbol(void* library, const char* name);
void CloseSharedLibrary(void* library);

}  // namespace os
