#pragma once

#include <cstdint>

namespace vantuli::loading {

// An ELF note naming libraries a program opens with dlopen, as packaging
// tools read them (the freedesktop.org ".note.dlopen" metadata, which the
// dynamic section cannot give for such libraries): owner "FDO", type
// 0x407c0c0a, and a JSON array of dependencies, each
//     {"feature": ..., "description": ..., "priority": "required" | "recommended" | "suggested",
//      "soname": [the library's soname, then any alternatives]}
// as a zero-terminated string padded to four bytes.
template <std::uint32_t JsonSize>
struct alignas(4) DlopenNote {
    std::uint32_t ownerSize;
    std::uint32_t jsonSize;
    std::uint32_t type;
    char owner[4];
    char json[(JsonSize + 3) / 4 * 4];
};

} // namespace vantuli::loading

// Puts a note for `json` (a string literal) into every binary that links the
// file using it; the linker gathers them into one ".note.dlopen" section.
// Aligned to four bytes exactly: notes follow each other without gaps, and
// the compiler would otherwise align a large object further.
#define VANTULI_DLOPEN_NOTE(variable, json)                                                                            \
    [[gnu::used, gnu::section(".note.dlopen")]] alignas(4) constexpr ::vantuli::loading::DlopenNote<sizeof(json)>    \
        variable{sizeof("FDO"), sizeof(json), 0x407c0c0aU, "FDO", json}
