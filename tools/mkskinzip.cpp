// Builds the skin archive the program carries: one Qt style sheet per line of the palette
// table, made from the template, each deflated into a ZIP archive. The output depends only on
// the two source files (fixed times, fixed order, fixed attributes), so the archive in the
// program always matches its sources.
//
// usage: mkskinzip OUTPUT.zip PALETTES.txt TEMPLATE.qss.in

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// 2024-01-01 12:00:00, as a DOS date and time and as Unix seconds (UTC).
constexpr uint16_t DOS_TIME = 12 << 11;
constexpr uint16_t DOS_DATE = ((2024 - 1980) << 9) | (1 << 5) | 1;
constexpr uint32_t UNIX_TIME = 1704110400;
// Regular file, owner read and write (upper, Unix half), archive bit (lower, DOS half).
constexpr uint32_t EXTERNAL_ATTRIBUTES = 0x81800020;
constexpr uint16_t VERSION_MADE_BY = (3 << 8) | 20;   // Unix, 2.0
constexpr uint16_t VERSION_NEEDED = 20;

struct CSkinEntry {
    std::string m_strName;
    std::string m_strVariant;
    std::string m_strAccent;
};

struct CRgb {
    double m_dRed, m_dGreen, m_dBlue;
};

void PutLe16(std::vector<uint8_t>& v, uint32_t n)
{
    v.push_back(static_cast<uint8_t>(n));
    v.push_back(static_cast<uint8_t>(n >> 8));
}

void PutLe32(std::vector<uint8_t>& v, uint32_t n)
{
    PutLe16(v, n & 0xFFFF);
    PutLe16(v, n >> 16);
}

bool ReadText(const char* pszPath, std::string* pstrText)
{
    std::ifstream in(pszPath, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    *pstrText = ss.str();
    return true;
}

bool ParseColour(const std::string& str, CRgb* pRgb)
{
    unsigned nRed = 0, nGreen = 0, nBlue = 0;
    if (str.size() != 7 || std::sscanf(str.c_str(), "#%2x%2x%2x", &nRed, &nGreen, &nBlue) != 3)
        return false;
    *pRgb = {static_cast<double>(nRed), static_cast<double>(nGreen), static_cast<double>(nBlue)};
    return true;
}

std::string FormatColour(const CRgb& c)
{
    auto clamp = [](double d) { return static_cast<unsigned>(d < 0 ? 0 : d > 255 ? 255 : d + 0.5); };
    char sz[8];
    std::snprintf(sz, sizeof sz, "#%02x%02x%02x", clamp(c.m_dRed), clamp(c.m_dGreen), clamp(c.m_dBlue));
    return sz;
}

// dWeight of a, the rest of b.
CRgb Mix(const CRgb& a, const CRgb& b, double dWeight)
{
    return {a.m_dRed * dWeight + b.m_dRed * (1 - dWeight), a.m_dGreen * dWeight + b.m_dGreen * (1 - dWeight),
            a.m_dBlue * dWeight + b.m_dBlue * (1 - dWeight)};
}

double Luminance(const CRgb& c)
{
    return (0.299 * c.m_dRed + 0.587 * c.m_dGreen + 0.114 * c.m_dBlue) / 255.0;
}

std::string ReplaceAll(std::string str, const std::string& strFrom, const std::string& strTo)
{
    for (size_t nPos = str.find(strFrom); nPos != std::string::npos; nPos = str.find(strFrom, nPos + strTo.size()))
        str.replace(nPos, strFrom.size(), strTo);
    return str;
}

// The scheme's colours follow from its variant and accent, so each line of the table is short.
bool MakeStyleSheet(const CSkinEntry& entry, const std::string& strTemplate, std::string* pstrOut)
{
    CRgb accent{};
    if (!ParseColour(entry.m_strAccent, &accent))
        return false;
    const CRgb white{255, 255, 255}, paper{246, 247, 249}, fog{226, 229, 233}, night{21, 24, 28};
    CRgb window{}, base{}, text{}, muted{}, border{}, button{}, hover{}, pressed{};
    if (entry.m_strVariant == "light") {
        window = Mix(accent, paper, 0.05);
        base = white;
        text = {31, 35, 40};
        muted = {96, 104, 114};
        border = Mix(accent, white, 0.30);
        button = Mix(accent, white, 0.08);
        hover = Mix(accent, white, 0.16);
        pressed = Mix(accent, white, 0.28);
    } else if (entry.m_strVariant == "mist") {
        window = Mix(accent, fog, 0.14);
        base = Mix(accent, white, 0.04);
        text = {27, 31, 36};
        muted = {88, 96, 106};
        border = Mix(accent, fog, 0.45);
        button = Mix(accent, fog, 0.22);
        hover = Mix(accent, fog, 0.32);
        pressed = Mix(accent, fog, 0.45);
    } else if (entry.m_strVariant == "night") {
        window = Mix(accent, night, 0.10);
        base = Mix(accent, night, 0.05);
        text = {230, 232, 235};
        muted = {150, 158, 168};
        border = Mix(accent, night, 0.45);
        button = Mix(accent, night, 0.22);
        hover = Mix(accent, night, 0.32);
        pressed = Mix(accent, night, 0.45);
    } else {
        return false;
    }
    const CRgb accentText = Luminance(accent) > 0.6 ? CRgb{20, 20, 20} : white;
    std::string str = strTemplate;
    str = ReplaceAll(str, "@NAME@", entry.m_strName);
    str = ReplaceAll(str, "@VARIANT@", entry.m_strVariant);
    str = ReplaceAll(str, "@ACCENT_TEXT@", FormatColour(accentText));
    str = ReplaceAll(str, "@ACCENT@", FormatColour(accent));
    str = ReplaceAll(str, "@WINDOW@", FormatColour(window));
    str = ReplaceAll(str, "@BASE@", FormatColour(base));
    str = ReplaceAll(str, "@TEXT@", FormatColour(text));
    str = ReplaceAll(str, "@MUTED@", FormatColour(muted));
    str = ReplaceAll(str, "@BORDER@", FormatColour(border));
    str = ReplaceAll(str, "@BUTTON@", FormatColour(button));
    str = ReplaceAll(str, "@HOVER@", FormatColour(hover));
    str = ReplaceAll(str, "@PRESSED@", FormatColour(pressed));
    *pstrOut = std::move(str);
    return true;
}

bool Deflate(const std::string& strData, std::vector<uint8_t>* pOut)
{
    z_stream strm{};
    // Raw deflate (negative window bits): a ZIP entry carries no zlib header.
    if (deflateInit2(&strm, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    pOut->resize(deflateBound(&strm, strData.size()));
    strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(strData.data()));
    strm.avail_in = static_cast<uInt>(strData.size());
    strm.next_out = pOut->data();
    strm.avail_out = static_cast<uInt>(pOut->size());
    const int nRet = deflate(&strm, Z_FINISH);
    pOut->resize(strm.total_out);
    deflateEnd(&strm);
    return nRet == Z_STREAM_END;
}

bool ReadTable(const std::string& strText, std::vector<CSkinEntry>* pEntries)
{
    std::istringstream in(strText);
    std::string strLine;
    while (std::getline(in, strLine)) {
        if (strLine.empty() || strLine[0] == '#')
            continue;
        std::istringstream fields(strLine);
        CSkinEntry entry;
        if (!(fields >> entry.m_strName >> entry.m_strVariant >> entry.m_strAccent))
            return false;
        pEntries->push_back(entry);
    }
    return !pEntries->empty();
}

// Where an entry's bytes stand: what the central directory repeats of its local header.
struct CPackedEntry {
    const std::string& m_strName;
    uint32_t m_nCrc;
    uint32_t m_nPackedSize;
    uint32_t m_nPlainSize;
    uint32_t m_nLocalOffset;
};

// The local header of an entry (deflated, fixed times), its name, a "UT" block and the bytes.
void AppendLocalEntry(std::vector<uint8_t>& archive, const CPackedEntry& entry, const std::vector<uint8_t>& packed)
{
    PutLe32(archive, 0x04034B50);
    PutLe16(archive, VERSION_NEEDED);
    PutLe16(archive, 0);
    PutLe16(archive, 8);
    PutLe16(archive, DOS_TIME);
    PutLe16(archive, DOS_DATE);
    PutLe32(archive, entry.m_nCrc);
    PutLe32(archive, entry.m_nPackedSize);
    PutLe32(archive, entry.m_nPlainSize);
    PutLe16(archive, static_cast<uint32_t>(entry.m_strName.size()));
    PutLe16(archive, 13);
    archive.insert(archive.end(), entry.m_strName.begin(), entry.m_strName.end());
    // "UT" block, 9 data bytes: flags 0x03, then the modification and access times.
    PutLe16(archive, 0x5455);
    PutLe16(archive, 9);
    archive.push_back(0x03);
    PutLe32(archive, UNIX_TIME);
    PutLe32(archive, UNIX_TIME);
    archive.insert(archive.end(), packed.begin(), packed.end());
}

// The entry's record in the central directory.
void AppendDirectoryEntry(std::vector<uint8_t>& directory, const CPackedEntry& entry)
{
    PutLe32(directory, 0x02014B50);
    PutLe16(directory, VERSION_MADE_BY);
    PutLe16(directory, VERSION_NEEDED);
    PutLe16(directory, 0);
    PutLe16(directory, 8);
    PutLe16(directory, DOS_TIME);
    PutLe16(directory, DOS_DATE);
    PutLe32(directory, entry.m_nCrc);
    PutLe32(directory, entry.m_nPackedSize);
    PutLe32(directory, entry.m_nPlainSize);
    PutLe16(directory, static_cast<uint32_t>(entry.m_strName.size()));
    PutLe16(directory, 9);
    PutLe16(directory, 0);
    PutLe16(directory, 0);
    PutLe16(directory, 0);
    PutLe32(directory, EXTERNAL_ATTRIBUTES);
    PutLe32(directory, entry.m_nLocalOffset);
    directory.insert(directory.end(), entry.m_strName.begin(), entry.m_strName.end());
    // The central copy of the "UT" block carries the modification time only, as usual.
    PutLe16(directory, 0x5455);
    PutLe16(directory, 5);
    directory.push_back(0x03);
    PutLe32(directory, UNIX_TIME);
}

// The central directory after the entries, and the record that ends the archive.
void AppendDirectory(std::vector<uint8_t>& archive, const std::vector<uint8_t>& directory, size_t nEntries)
{
    const uint32_t nDirOffset = static_cast<uint32_t>(archive.size());
    archive.insert(archive.end(), directory.begin(), directory.end());
    PutLe32(archive, 0x06054B50);
    PutLe16(archive, 0);
    PutLe16(archive, 0);
    PutLe16(archive, static_cast<uint32_t>(nEntries));
    PutLe16(archive, static_cast<uint32_t>(nEntries));
    PutLe32(archive, static_cast<uint32_t>(directory.size()));
    PutLe32(archive, nDirOffset);
    PutLe16(archive, 0);
}

// The whole archive: one deflated style sheet per palette line, in the table's order.
bool BuildArchive(const std::vector<CSkinEntry>& entries, const std::string& strTemplate, std::vector<uint8_t>* pArchive)
{
    std::vector<uint8_t> directory;
    for (const CSkinEntry& entry : entries) {
        std::string strSheet;
        std::vector<uint8_t> packed;
        if (!MakeStyleSheet(entry, strTemplate, &strSheet) || !Deflate(strSheet, &packed)) {
            std::fprintf(stderr, "mkskinzip: cannot make the style sheet %s (variant or colour unknown).\n",
                         entry.m_strName.c_str());
            return false;
        }
        const CPackedEntry packedEntry = {
            entry.m_strName,
            static_cast<uint32_t>(
                crc32(0, reinterpret_cast<const Bytef*>(strSheet.data()), static_cast<uInt>(strSheet.size()))),
            static_cast<uint32_t>(packed.size()),
            static_cast<uint32_t>(strSheet.size()),
            static_cast<uint32_t>(pArchive->size()),
        };
        AppendLocalEntry(*pArchive, packedEntry, packed);
        AppendDirectoryEntry(directory, packedEntry);
    }
    AppendDirectory(*pArchive, directory, entries.size());
    return true;
}

// Written beside the target and renamed, so a failed run never leaves half an archive.
bool WriteArchive(const char* pszPath, const std::vector<uint8_t>& archive)
{
    const std::string strTemp = std::string(pszPath) + ".tmp";
    FILE* pFile = std::fopen(strTemp.c_str(), "wb");
    bool bOk = pFile != nullptr && std::fwrite(archive.data(), 1, archive.size(), pFile) == archive.size();
    if (pFile != nullptr && std::fclose(pFile) != 0)
        bOk = false;
    if (!bOk || std::rename(strTemp.c_str(), pszPath) != 0) {
        std::remove(strTemp.c_str());
        std::fprintf(stderr, "mkskinzip: cannot write %s.\n", pszPath);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: mkskinzip OUTPUT.zip PALETTES.txt TEMPLATE.qss.in\n");
        return 1;
    }
    std::string strTable, strTemplate;
    if (!ReadText(argv[2], &strTable) || !ReadText(argv[3], &strTemplate)) {
        std::fprintf(stderr, "mkskinzip: cannot read %s or %s.\n", argv[2], argv[3]);
        return 1;
    }
    std::vector<CSkinEntry> entries;
    if (!ReadTable(strTable, &entries)) {
        std::fprintf(stderr, "mkskinzip: %s holds a line that is not 'name variant #rrggbb'.\n", argv[2]);
        return 1;
    }
    std::vector<uint8_t> archive;
    return BuildArchive(entries, strTemplate, &archive) && WriteArchive(argv[1], archive) ? 0 : 1;
}
