#include "platform/SharedLibrary.h"

#include <dlfcn.h>

namespace platform {

TSharedLibrary::~TSharedLibrary() {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
    }
}

bool TSharedLibrary::Open(const std::string& path) {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
    }
    // A path with a slash is never looked up elsewhere: only the file named
    // is loaded, not one that happens to be on the library path.
    const std::string named = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = ::dlopen(named.c_str(), RTLD_NOW | RTLD_LOCAL);
    const char* why = handle_ == nullptr ? ::dlerror() : nullptr;
    error_ = why != nullptr ? why : "";
    return handle_ != nullptr;
}

void* TSharedLibrary::Symbol(const char* name) const {
    return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

} // namespace platform
