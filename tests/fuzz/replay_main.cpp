// Replays inputs through a fuzz target without libFuzzer: each argument is a file or a
// directory of files. Used to check a crash file, and by CI on the seed corpus.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

static void ReplayFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(data.data(), data.size());
}

int main(int argc, char** argv)
{
    int nFiles = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    ReplayFile(entry.path());
                    ++nFiles;
                }
            }
        } else {
            ReplayFile(path);
            ++nFiles;
        }
    }
    std::printf("replayed %d input(s)\n", nFiles);
    return 0;
}
