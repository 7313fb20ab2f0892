// The sample OASYS documents of examples/, one per packaging, described once so that the
// generator (make_examples) and the tool tests make exactly the same documents.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace oasys_examples {

struct SampleFile {
    std::string name;     // the document's name as the tools are given it
    std::string packaging; // "separated", "combined" or "compound"
};

// The samples, in the order they are written.
const std::vector<SampleFile>& sampleFiles();

// Writes every sample into the directory (which must exist): sample_separated.DOC and .FMT,
// sample_combined.oas and sample_compound.oas.
void writeSamples(const std::filesystem::path& directory);

} // namespace oasys_examples
