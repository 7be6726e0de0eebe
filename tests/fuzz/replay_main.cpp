// Runs a fuzz target over saved inputs without libFuzzer, so that every build (the plain
// one, the sanitizer one, any compiler) checks the saved corpus as an ordinary test.
// Arguments: files or folders of inputs; each input is run once.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace fs = std::filesystem;

namespace {

int RunFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const std::vector<char> bytes { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
    // A buffer of exactly the input's size, as libFuzzer gives, so that a read past the
    // end is one past the allocation.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    data.shrink_to_fit();
    static uint8_t none;
    LLVMFuzzerTestOneInput(data.empty() ? &none : data.data(), data.size());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        if (!fs::is_directory(arg)) {
            files.push_back(arg);
            continue;
        }
        for (const auto& entry : fs::directory_iterator(arg)) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    int failures = 0;
    for (const fs::path& file : files)
        failures += RunFile(file);
    std::printf("%zu inputs run\n", files.size());
    return failures == 0 && !files.empty() ? 0 : 1;
}
