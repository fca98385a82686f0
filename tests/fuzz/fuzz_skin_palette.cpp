// Fuzzes the skin file reader: any bytes give a whole palette or a refusal with a reason, never
// a read out of bounds, and an accepted palette keeps its sizes within what may be drawn.
#include <cstdint>
#include <string_view>

#include "skin/skin_palette.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CSkinPalette palette;
    CSkinFileProblem problem;
    const bool bAccepted =
        ParseSkinPalette(std::string_view(reinterpret_cast<const char*>(pData), nSize), &palette, &problem);
    if (bAccepted != (problem.m_eProblem == ESkinProblem::NONE) || (!bAccepted && problem.m_strDetail.empty()))
        __builtin_trap();
    for (int n : {palette.m_nBorderRadius, palette.m_nBorderWidth, palette.m_nFocusWidth, palette.m_nChunkRadius}) {
        if (n < 0 || n > MAX_SKIN_LENGTH_PX)
            __builtin_trap();
    }
    return 0;
}
