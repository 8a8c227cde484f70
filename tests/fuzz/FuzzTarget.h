#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace telvar::fuzz {

using Entry = int (*)(const std::uint8_t* data, std::size_t size);

// The fuzz targets compiled into this program, by name.
std::map<std::string, Entry>& targets();
bool registerTarget(const char* name, Entry entry);

} // namespace telvar::fuzz

// Defines a fuzz target's entry. Built for libFuzzer, it is the program's
// LLVMFuzzerTestOneInput; built into the test suite, it registers itself so
// that the kept regression inputs are replayed through it.
#ifdef TELVAR_LIBFUZZER
#define TELVAR_FUZZ_TARGET(name)                                                                   \
    static int name##Entry(const std::uint8_t* data, std::size_t size);                            \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)              \
    {                                                                                              \
        return name##Entry(data, size);                                                            \
    }                                                                                              \
    static int name##Entry(const std::uint8_t* data, std::size_t size)
#else
#define TELVAR_FUZZ_TARGET(name)                                                                   \
    static int name##Entry(const std::uint8_t* data, std::size_t size);                            \
    [[maybe_unused]] static const bool name##Registered =                                          \
        telvar::fuzz::registerTarget(#name, &name##Entry);                                         \
    static int name##Entry(const std::uint8_t* data, std::size_t size)
#endif
