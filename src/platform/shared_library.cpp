#include "platform/shared_library.h"

#include <dlfcn.h>

namespace tavrik {

void* OpenSharedLibrary(const std::string& name, std::string& error) {
    // Never unloaded: Qt, for one, cannot be unloaded cleanly.
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + name + ": " + (why ? why : "unknown error");
    }
    return handle;
}

}  // namespace tavrik
