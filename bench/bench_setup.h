// What the serial benchmarks set up alike: a folder of their own with its own ports folder, and
// a pattern file of records whose values all differ (so the simulated device counts each).
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_util.h"
#include "transfer/pattern.h"

// Makes a folder from pszTemplate (ending in XXXXXX) with a ports folder that MATRIX_PORTS_DIR
// names, and writes nRecords records to bench.bin in it. False, said on stderr with pszName,
// when either fails.
inline bool PrepareBenchFolder(const char* pszName, const char* pszTemplate, int nRecords,
                               std::filesystem::path* pWork, std::string* pstrFile)
{
    std::string strTemplate = pszTemplate;
    if (mkdtemp(strTemplate.data()) == nullptr) {
        std::fprintf(stderr, "%s: cannot make a folder from %s\n", pszName, pszTemplate);
        return false;
    }
    *pWork = strTemplate;
    std::filesystem::create_directories(*pWork / "ports");
    setenv("MATRIX_PORTS_DIR", (*pWork / "ports").c_str(), 1);

    std::vector<uint8_t> data;
    for (int i = 0; i < nRecords; ++i) {
        uint8_t abRecord[12];
        BuildPatternRecord(CPatternValues{i * 0.25, i * 0.5, i % 256, (i * 7) % 256, i}, abRecord);
        data.insert(data.end(), abRecord, abRecord + 12);
    }
    *pstrFile = (*pWork / "bench.bin").string();
    std::string strError;
    if (!WriteFileAtomically(*pstrFile, data.data(), data.size(), &strError)) {
        std::fprintf(stderr, "%s: %s\n", pszName, strError.c_str());
        return false;
    }
    return true;
}
