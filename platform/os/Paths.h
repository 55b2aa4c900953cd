#pragma once
// Folders that the machine hands to the program: these are the only real absolute
// paths the engine starts from. Both write the folder with '/' separators and without
// a trailing separator into a caller's buffer and return false (buffer emptied) when
// the folder is unknown or does not fit.
#include <cstddef>

namespace os {

// The folder of the running executable (from the process's own executable link).
bool GetExecutableFolder(char* buffer, size_t size);
// The user's data folder: $XDG_DATA_HOME when set to an absolute path, else
// $HOME/.local/share.
bool GetUserDataFolder(char* buffer, size_t size);

}  // namespace os
