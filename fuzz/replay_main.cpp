// Runs a fuzz target once on each file it is given, and on each file of each folder it is given:
// the inputs the fuzzer was started from and kept are replayed by the ordinary build, with the
// normal compiler, as a test. A failed check aborts, naming the input first.
//   fuzz_csv_replay <file or folder>...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputsOf(const std::filesystem::path& given)
{
    std::vector<std::filesystem::path> inputs;
    std::error_code failure;
    if (std::filesystem::is_directory(given, failure)) {
        for (const auto& entry : std::filesystem::directory_iterator(given))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
    } else if (std::filesystem::is_regular_file(given, failure)) {
        inputs.push_back(given);
    }
    return inputs;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <file or folder>...\n", argv[0]);
        return 2;
    }
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::vector<std::filesystem::path> inputs = inputsOf(argv[i]);
        // A corpus that was moved or emptied would otherwise pass without running anything.
        if (inputs.empty()) {
            std::fprintf(stderr, "%s: no input in %s\n", argv[0], argv[i]);
            return 1;
        }
        for (const std::filesystem::path& input : inputs) {
            std::ifstream file(input, std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
            if (!file.good() && !file.eof()) {
                std::fprintf(stderr, "%s: cannot read %s\n", argv[0], input.c_str());
                return 1;
            }
            std::fprintf(stderr, "%s\n", input.c_str());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    std::printf("%d inputs replayed\n", replayed);
    return 0;
}
