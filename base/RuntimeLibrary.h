#pragma once
// A shared library opened while the program runs, by its soname, for a feature that not every user
// needs (the HTTPS client of the sign-in, the secret store, the sound library): a user who never
// touches the feature never maps the library, and a missing library fails that feature with a clear
// error instead of stopping the program at start.

#include <string>

#include "base/Exceptions.h"

// The library, or a function in it, cannot be had; the message names both and the loader's reason.
BG_DECLARE_EXCEPTION(ELibraryUnavailable, Exception);

class RuntimeLibrary {
public:
    // Opens the library (dlopen, every symbol bound now, none made global). It stays mapped until the
    // process ends, as its threads and exit handlers may still run its code. Raises ELibraryUnavailable.
    explicit RuntimeLibrary(std::string soname);
    ~RuntimeLibrary();
    RuntimeLibrary(const RuntimeLibrary&) = delete;
    RuntimeLibrary& operator=(const RuntimeLibrary&) = delete;

    const std::string& Soname() const noexcept { return soname_; }

    // The address of an exported symbol (dlsym). Raises ELibraryUnavailable when the library lacks it.
    void* Symbol(const char* name) const;

    // Points `function` at the library's function of that name, typed as the pointer is:
    // `library.Bind(curlInit, "curl_easy_init")`. Raises ELibraryUnavailable as Symbol does.
    template <typename Function> void Bind(Function*& function, const char* name) const {
        function = reinterpret_cast<Function*>(Symbol(name));
    }

private:
    std::string soname_;
    void* handle_ = nullptr;
};
