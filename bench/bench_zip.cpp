// Times the extraction of one large deflated entry by our reader against bsdtar -xOf and
// unzip -p on the same archive, in the same run. The archive is made in a temporary directory
// with zip; the contenders run in turn, several rounds, and the best time of each counts.
//
// usage: bench_zip [MEGABYTES] [RUNS]     (defaults: 64 MB of text, 5 runs)

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "skin/zip_reader.h"

namespace fs = std::filesystem;

namespace {

// Text of random words: deflates to roughly a third, like ordinary text files.
std::string MakeText(size_t nBytes)
{
    static const char* const apszWords[] = {"matrix", "pattern", "record", "serial", "device", "update", "reply",
                                            "port", "skin", "archive", "entry", "deflate", "window", "progress",
                                            "cancel", "transfer", "status", "0xFB", "0xFE", "ok", "COM5", "9600"};
    std::mt19937 rng(12345);
    std::string str;
    str.reserve(nBytes + 64);
    while (str.size() < nBytes) {
        str += apszWords[rng() % std::size(apszWords)];
        str += (rng() % 12 == 0) ? '\n' : ' ';
        if (rng() % 7 == 0)
            str += std::to_string(rng() % 100000);
    }
    str.resize(nBytes);
    return str;
}

struct CContender {
    const char* m_pszName;
    std::function<bool()> m_fnRun;
    double m_dBest = -1;   // seconds; stays negative when it failed or is not available
    bool m_bFailed = false;
};

// Round after round, each contender runs once, so that a busy moment on the machine hurts
// all of them alike; the best time of each counts.
void TimeInterleaved(std::vector<CContender>& contenders, int nRuns)
{
    for (int nRound = 0; nRound < nRuns; ++nRound) {
        for (CContender& c : contenders) {
            if (c.m_bFailed || !c.m_fnRun)
                continue;
            const auto start = std::chrono::steady_clock::now();
            if (!c.m_fnRun()) {
                c.m_bFailed = true;
                c.m_dBest = -1;
                continue;
            }
            const double d = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            c.m_dBest = c.m_dBest < 0 ? d : std::min(c.m_dBest, d);
        }
    }
}

bool RunShell(const std::string& strCommand)
{
    return std::system(strCommand.c_str()) == 0;
}

bool HaveTool(const char* pszTool)
{
    return RunShell(std::string("command -v ") + pszTool + " > /dev/null 2>&1");
}

// The archive file mapped into memory, as the program maps its resources.
struct CMapped {
    ~CMapped()
    {
        if (m_p != nullptr)
            munmap(m_p, m_n);
    }
    bool Map(const std::string& strPath)
    {
        const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat st {};
        fstat(fd, &st);
        m_n = static_cast<size_t>(st.st_size);
        void* p = mmap(nullptr, m_n, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (p == MAP_FAILED)
            return false;
        m_p = p;
        return true;
    }
    void* m_p = nullptr;
    size_t m_n = 0;
};

bool ExtractToFile(const std::string& strArchive, const char* pszTarget)
{
    CMapped mapped;
    if (!mapped.Map(strArchive))
        return false;
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(mapped.m_p, mapped.m_n);
    if (pArchive == nullptr)
        return false;
    const bool bOk = ZipExtractEntryToFile(pArchive.get(), 0, pszTarget) == ZIP_OK;
    ZipClose(pArchive);
    return bOk;
}

// The same work as the tools' "-O" / "-p" to /dev/null: inflate and check, write nowhere.
bool ExtractToNowhere(const std::string& strArchive)
{
    CMapped mapped;
    if (!mapped.Map(strArchive))
        return false;
    std::unique_ptr<ZipArchive> pArchive = ZipOpenMemory(mapped.m_p, mapped.m_n);
    ZipEntryInfo info{};
    if (pArchive == nullptr || ZipGetEntry(pArchive.get(), 0, &info) != ZIP_OK || OpenEntryData(pArchive.get()) != ZIP_OK)
        return false;
    std::vector<uint8_t> buffer(ZIP_COPY_BUFFER_SIZE);
    int64_t n = 0;
    while ((n = ReadEntryData(pArchive.get(), buffer.data(), buffer.size())) > 0) {
    }
    const bool bOk = n == 0 && CloseEntryData(pArchive.get()) == ZIP_OK;
    ZipClose(pArchive);
    return bOk;
}

} // namespace

int main(int argc, char** argv)
{
    const size_t nMegabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int nRuns = argc > 2 ? std::atoi(argv[2]) : 5;
    char szDir[] = "/tmp/bench-zip-XXXXXX";
    if (mkdtemp(szDir) == nullptr) {
        std::perror("bench_zip: mkdtemp");
        return 1;
    }
    const fs::path dir = szDir;
    const fs::path oldDir = fs::current_path();
    fs::current_path(dir);

    const std::string strText = MakeText(nMegabytes << 20);
    std::ofstream("big.txt", std::ios::binary).write(strText.data(), static_cast<std::streamsize>(strText.size()));
    if (!HaveTool("zip") || !RunShell("zip -q -6 big.zip big.txt")) {
        std::fprintf(stderr, "bench_zip: zip is needed to make the archive (scripts/install-deps.sh installs it).\n");
        return 1;
    }
    const std::string strArchive = (dir / "big.zip").string();
    std::printf("archive: one deflated entry, %zu bytes, packed into %ju bytes (zip -6)\n", strText.size(),
                static_cast<uintmax_t>(fs::file_size(strArchive)));

    const bool bBsdtar = HaveTool("bsdtar");
    const bool bUnzip = HaveTool("unzip");
    std::vector<CContender> contenders = {
        {"ours: extract to a file", [&] { return ExtractToFile(strArchive, "ours.txt"); }},
        {"bsdtar -xOf > file", bBsdtar ? std::function<bool()>([] { return RunShell("bsdtar -xOf big.zip big.txt > bsdtar.txt"); }) : nullptr},
        {"unzip -p > file", bUnzip ? std::function<bool()>([] { return RunShell("unzip -p big.zip big.txt > unzip.txt"); }) : nullptr},
        {"ours: inflate and check, discarded", [&] { return ExtractToNowhere(strArchive); }},
        {"bsdtar -xOf > /dev/null", bBsdtar ? std::function<bool()>([] { return RunShell("bsdtar -xOf big.zip big.txt > /dev/null"); }) : nullptr},
        {"unzip -p > /dev/null", bUnzip ? std::function<bool()>([] { return RunShell("unzip -p big.zip big.txt > /dev/null"); }) : nullptr},
    };
    TimeInterleaved(contenders, nRuns);

    int nStatus = 0;
    std::ifstream in("ours.txt", std::ios::binary);
    const std::string strOut((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (contenders[0].m_dBest < 0 || strOut != strText) {
        std::fprintf(stderr, "bench_zip: our extraction failed or gave different bytes.\n");
        nStatus = 1;
    }
    const double dMb = static_cast<double>(strText.size()) / (1 << 20);
    std::printf("best of %d interleaved runs:\n", nRuns);
    for (const CContender& c : contenders) {
        if (c.m_dBest < 0)
            std::printf("  %-36s %s\n", c.m_pszName, c.m_fnRun ? "failed" : "not available");
        else
            std::printf("  %-36s %8.1f ms  %8.1f MB/s\n", c.m_pszName, c.m_dBest * 1000, dMb / c.m_dBest);
    }
    // Like against like: to a file against the tools to a file, discarded against /dev/null.
    for (size_t nOurs : {size_t(0), size_t(3)}) {
        const double dOurs = contenders[nOurs].m_dBest;
        for (size_t nTool : {nOurs + 1, nOurs + 2}) {
            const double dTool = contenders[nTool].m_dBest;
            if (dOurs > 0 && dTool > 0)
                std::printf("%-36s vs %-26s %.2fx its time (%s)\n", contenders[nOurs].m_pszName, contenders[nTool].m_pszName,
                            dOurs / dTool, dOurs <= dTool ? "as fast or faster" : "slower");
        }
    }

    fs::current_path(oldDir);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return nStatus;
}
