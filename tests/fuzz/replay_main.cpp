// Feeds files to a fuzz target's entry point, one call per file, so that its
// corpus and regression inputs run as an ordinary test in every build, the
// Windows one included, without libFuzzer. A failed check aborts, as under
// the fuzzer; the name of the input is printed first, so the log says which.
//
// Usage: fuzz_TARGET_replay PATH...   (a file, or a folder of files; in a
// folder, README and *.md files are not inputs)

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool is_input(const fs::path& path) {
    const std::string name = path.filename().string();
    return name != "README" && path.extension() != ".md" && name.rfind("LICENSE", 0) != 0;
}

std::vector<fs::path> inputs_of(const fs::path& path) {
    if (!fs::is_directory(path)) return {path};
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
        if (entry.is_regular_file() && is_input(entry.path())) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH...\n", argv[0]);
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        if (!fs::exists(path)) {
            std::fprintf(stderr, "%s: no such input: %s\n", argv[0], argv[i]);
            return 2;
        }
        for (const fs::path& input : inputs_of(path)) {
            std::ifstream file(input, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            if (!file.good() && !file.eof()) {
                std::fprintf(stderr, "%s: cannot read %s\n", argv[0], input.string().c_str());
                return 2;
            }
            std::fprintf(stderr, "%s\n", input.filename().string().c_str());
            std::fflush(stderr);
            (void)LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    return replayed == 0 ? 1 : 0;
}
