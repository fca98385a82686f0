#include "platform/sha256.h"

std::string Sha256Hex(const void* pData, size_t nSize)
{
    CSha256 hash;
    std::array<uint8_t, SHA256_DIGEST_BYTES> abDigest{};
    if (!hash.Update(pData, nSize) || !hash.Finish(&abDigest))
        return std::string();
    static const char HEX_DIGITS[] = "0123456789abcdef";
    std::string strHex;
    strHex.reserve(2 * abDigest.size());
    for (const uint8_t nByte : abDigest) {
        strHex += HEX_DIGITS[nByte >> 4];
        strHex += HEX_DIGITS[nByte & 0x0F];
    }
    return strHex;
}
