// The members of a separated document and how the name of one member is made from the name of
// another. A separated document is a .DOC body beside a .FMT format file of the same base name,
// maybe with a .GRP group file; the host may name any of them, in upper or in lower case. The text
// entries want the body and then its format file, the property entry only the format file; the
// part names inside a combined document use the same upper-case extensions.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "entry_common.h"

namespace krm_names {

enum class Member { Body, Format, Group };

// One extension in its two cases; a mixed-case extension is neither.
struct Extension {
    std::string_view upper;
    std::string_view lower;
};

// By member, in the order in which the extensions of the other members are looked for.
inline constexpr std::array<Extension, 3> kExtensions = {{
    {".DOC", ".doc"}, // Member::Body
    {".FMT", ".fmt"}, // Member::Format
    {".GRP", ".grp"}, // Member::Group
}};

inline constexpr const Extension& extensionOf(Member member) { return kExtensions[static_cast<size_t>(member)]; }

// Every extension has four characters, so a swap never makes a name longer.
inline constexpr size_t kExtensionLength = 4;
static_assert([] {
    for (const Extension& extension : kExtensions)
        if (extension.upper.size() != kExtensionLength || extension.lower.size() != kExtensionLength) return false;
    return true;
}());

// Copies source into name, the rest of the buffer zeroed. False (name left empty) when the source
// with spare more characters and its NUL does not fit the buffer.
inline bool copyName(krm_entry::PathBuffer& name, const char* source, size_t spare) {
    name.fill('\0');
    const size_t length = strnlen(source, name.size());
    if (length + spare >= name.size()) return false;
    krm_entry::copyChars(name.data(), std::string_view(source, length), length);
    return true;
}

// What naming a member found in the given name.
struct MemberName {
    enum class Match { None, Swapped, Kept } match;
    size_t at; // where the swapped extension begins (Swapped only)
};

// Turns the name in the buffer into the name of the wanted member. The extensions of the other
// members are looked for first, in member order and upper case before lower case; the first one
// found anywhere in the path (a folder name too) is cut off with everything after it, and the
// wanted member's extension in the same case is put in its place. When none is there, a name that
// holds the wanted member's own extension is kept as it is. Otherwise nothing matches and the name
// is left as it was.
inline MemberName nameMember(krm_entry::PathBuffer& name, Member wanted) {
    const std::string_view given(name.data(), std::strlen(name.data()));
    const Extension& target = extensionOf(wanted);
    for (size_t m = 0; m < kExtensions.size(); ++m) {
        if (static_cast<Member>(m) == wanted) continue;
        for (const bool upper : {true, false}) {
            const std::string_view found = upper ? kExtensions[m].upper : kExtensions[m].lower;
            const size_t at = given.find(found);
            if (at == std::string_view::npos) continue;
            const std::string_view replacement = upper ? target.upper : target.lower;
            krm_entry::copyChars(name.data() + at, replacement, replacement.size());
            name[at + replacement.size()] = '\0';
            return {MemberName::Match::Swapped, at};
        }
    }
    for (const std::string_view own : {target.upper, target.lower}) {
        if (given.find(own) != std::string_view::npos) return {MemberName::Match::Kept, 0};
    }
    return {MemberName::Match::None, 0};
}

} // namespace krm_names
