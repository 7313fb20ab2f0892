// Documents for the liboasys tests, made with the test writer in every packaging, and the
// filter's own text for each (through the stream entry, which keeps what it decoded before a
// failure), which liboasys must give byte for byte.
#pragma once

#include <filesystem>
#include <string>

#include "oasys.h"
#include "oasys_writer.h"

namespace oasys_lib_test {

enum class Body { Visible, Other, Unended, NoText, Empty };
oasys_test::Bytes bodyText(Body body);

// The properties every document holds, in its format block and, for a compound file, also in
// its summary information (category in the document summary set).
constexpr char kAuthor[] = "Author of exactly thirty bytes"; // fills its field
oasys_test::Bytes formatBlock(bool password);

// Writes the document under dir with the stem "a" (a.DOC/a.FMT, a.oas, a.ole); returns its path.
std::filesystem::path writeDocument(const std::filesystem::path& dir, oasys_packaging packaging, Body body,
                                    bool password = false);

// The text the filter's stream entry gives for the document at path.
std::string filterText(const std::filesystem::path& path, oasys_packaging packaging);

std::string readText(const std::filesystem::path& path);

} // namespace oasys_lib_test
