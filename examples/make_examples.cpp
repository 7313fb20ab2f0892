// Remakes the sample documents of examples/ with the test document writer:
//   make_examples <directory>
// (the build target "examples" runs it on the source tree's examples/ folder).
#include <cstdio>
#include <exception>
#include <filesystem>

#include "sample_documents.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_examples <directory>\n");
        return 64;
    }
    try {
        std::filesystem::create_directories(argv[1]);
        oasys_examples::writeSamples(argv[1]);
        for (const auto& sample : oasys_examples::sampleFiles())
            std::printf("%s (%s)\n", (std::filesystem::path(argv[1]) / sample.name).c_str(), sample.packaging.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_examples: %s\n", error.what());
        return 1;
    }
    return 0;
}
