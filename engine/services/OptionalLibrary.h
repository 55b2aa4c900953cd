#pragma once
// Optional libraries that the Game loads at run time when present (the touch helper and
// the device lighting library). They keep their original names ("PCTouchHelper.dll");
// a ".dll" name maps to the shared library "lib<name>.so", looked for in the program's
// folder first and then on the system's search path.
namespace optlib {

// The handle for os::FindSharedSymbol and os::CloseSharedLibrary; null when the
// library is nowhere to be found or cannot be loaded.
void* OpenOptionalLibrary(const char* dllName);

}  // namespace optlib
