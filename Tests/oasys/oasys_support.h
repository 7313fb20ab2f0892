// Documents for the liboasys tests, made with the test writer in every packaging, and their text.
#pragma once

#include <filesystem>
#include <string>

#include "oasys.h"
#include "oasys_writer.h"

namespace oasys_lib_test {

enum class Body { Visible, Unended, NoText, Empty };
// The text of a body, as far as it can be decoded.
std::string textOf(Body body);

// The properties of every document: its format block, and for a compound file its summary sets too.
constexpr char kAuthor[] = "Author of exactly thirty bytes"; // fills its field
oasys_test::Bytes formatBlock(bool password);

// Writes the document under dir with the stem "a" (a.DOC/a.FMT, a.oas, a.ole); returns its path.
std::filesystem::path writeDocument(const std::filesystem::path& dir, oasys_packaging packaging, Body body,
                                    bool password = false);

} // namespace oasys_lib_test
