// Shared libraries loaded by the program itself, at their first use.
#pragma once

#include <string>

namespace tavrik {

// Opens `name` (a path, or a soname searched the loader's way) for the rest of the
// process: what is taken from it may be used until the end. nullptr with
// "cannot load NAME: WHY" in `error`.
void* OpenSharedLibrary(const std::string& name, std::string& error);

}  // namespace tavrik
