#include "base/RuntimeLibrary.h"

#include <dlfcn.h>

namespace {

std::string LoaderReason() {
    const char* reason = dlerror();
    return reason ? std::string(reason) : std::string("unknown reason");
}

} // namespace

RuntimeLibrary::RuntimeLibrary(std::string soname) : soname_(std::move(soname)) {
    // RTLD_NODELETE: a library that started threads of its own must outlive the handle.
    handle_ = dlopen(soname_.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle_)
        throw ELibraryUnavailable(
            Utf8ToText("Library " + soname_ + " could not be loaded: " + LoaderReason()));
}

RuntimeLibrary::~RuntimeLibrary() {
    dlclose(handle_);
}

void* RuntimeLibrary::Symbol(const char* name) const {
    dlerror(); // the reason given below is this look-up's, not an older one's
    void* address = dlsym(handle_, name);
    if (!address)
        throw ELibraryUnavailable(
            Utf8ToText("Library " + soname_ + " lacks " + name + ": " + LoaderReason()));
    return address;
}
