#pragma once

// Shared libraries opened when first used instead of linked: each library by
// its soname, then each function this program forwards to them, all or
// nothing, once for the process (Loader). A forwarding definition calls
// Loader::real<Pointer>(function), which is the library's own function or,
// when it could not be loaded, one that answers as the library does when it
// cannot do its work.

#include <dlfcn.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <type_traits>

namespace vantuli::loading {

// A function to look up, and the library (an index into the sonames) that defines it.
struct Symbol {
    std::size_t library;
    const char *name;
};

// Opens the libraries, from `folder` or, when it is empty, along the loader's
// search path, and looks up every symbol, in order. When a library or a
// function is missing, or fail() is called, no function is taken from any of them.
template <std::size_t LibraryCount, std::size_t FunctionCount>
struct LoadedLibraries {
    const char *what;
    std::array<void *, FunctionCount> address{};
    std::array<void *, LibraryCount> handles{};
    bool complete = false;

    LoadedLibraries(const char *name, const std::string &folder, const char *const (&sonames)[LibraryCount],
                    const Symbol (&symbols)[FunctionCount])
        : what(name)
    {
        for (std::size_t i = 0; i < LibraryCount; ++i) {
            const std::string path = folder.empty() ? std::string(sonames[i]) : folder + '/' + sonames[i];
            handles[i] = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handles[i]) {
                fail(dlerror());
                return;
            }
        }
        for (std::size_t i = 0; i < FunctionCount; ++i) {
            address[i] = dlsym(handles[symbols[i].library], symbols[i].name);
            if (!address[i]) {
                fail(dlerror());
                return;
            }
        }
        complete = true;
    }

    // Says why on standard error and lets go of every function and library.
    void fail(const char *error)
    {
        std::fprintf(stderr, "vantuli: %s could not be loaded: %s\n", what, error ? error : "unknown error");
        address.fill(nullptr);
        for (void *&handle : handles) {
            if (handle)
                dlclose(handle);
            handle = nullptr;
        }
        complete = false;
    }
};

// What a function that could not be loaded answers: nothing, no object (a
// null pointer), or else the library's failure, Answer::of<Result>().
template <typename Answer, typename Result>
Result unavailable()
{
    if constexpr (std::is_void_v<Result>)
        return;
    else if constexpr (std::is_pointer_v<Result>)
        return nullptr;
    else
        return Answer::template of<Result>();
}

template <typename Answer, typename Pointer>
struct Unavailable;

template <typename Answer, typename Result, typename... Arguments>
struct Unavailable<Answer, Result (*)(Arguments...)> {
    static Result call(Arguments...) { return unavailable<Answer, Result>(); }
};

template <typename Answer, typename Result, typename... Arguments>
struct Unavailable<Answer, Result (*)(Arguments..., ...)> {
    static Result call(Arguments..., ...) { return unavailable<Answer, Result>(); }
};

// One set of libraries, opened on the first call of libraries() or real()
// (on any thread) and kept for the process's life. `Libraries` is a
// LoadedLibraries made from the folder they are opened from; `Answer` says
// what a function that gives a code answers when they could not be loaded.
template <typename Libraries, typename Answer>
struct Loader {
    // Empty: along the loader's search path. Set before the first load only (tests).
    static std::string &folder()
    {
        static std::string folder;
        return folder;
    }

    static const Libraries &libraries()
    {
        static const Libraries loaded(folder()); // thread-safe, on the first call
        return loaded;
    }

    // The function at `index` of the symbols looked up.
    template <typename Pointer>
    static Pointer real(std::size_t index)
    {
        if (void *address = libraries().address[index])
            return reinterpret_cast<Pointer>(address);
        return &Unavailable<Answer, Pointer>::call;
    }
};

} // namespace vantuli::loading
