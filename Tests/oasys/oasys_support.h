// Documents for the liboasys tests, made with the test writer in every packaging, and the
// filter's own answer for each (its text through the stream entry, which keeps what it decoded
// before a failure), which liboasys must give byte for byte.
#pragma once

#include <filesystem>
#include <string>

#include "oasys.h"
#include "oasys_writer.h"

namespace oasys_lib_test {

// The body texts the table uses.
enum class Body { Visible, Other, Unended, NoText, Empty };
oasys_test::Bytes bodyText(Body body);

// The one format block of every document (title, author, keywords, created date; no modified
// date), and the same properties as a compound file's summary information.
oasys_test::Bytes formatBlock(bool password);
oasys_test::SummaryFields summaryFields();

// Writes the document in its packaging under dir with the stem "a" (a.DOC/a.FMT, a.oas, a.ole)
// and returns its path as the filter takes it.
std::filesystem::path writeDocument(const std::filesystem::path& dir, oasys_packaging packaging, Body body,
                                    bool password = false);

// The text the filter's stream entry gives for the document at path (upper-case names).
std::string filterText(const std::filesystem::path& path, oasys_packaging packaging);

// The whole file as text (the writer's readFile: a file that cannot be read fails the test).
std::string readText(const std::filesystem::path& path);

} // namespace oasys_lib_test
