#include "platform/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

struct CSha256::CState {
    BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    std::vector<UCHAR> abObject;
    bool bFailed = false;
    ~CState()
    {
        if (hHash != nullptr)
            ::BCryptDestroyHash(hHash);
        if (hAlgorithm != nullptr)
            ::BCryptCloseAlgorithmProvider(hAlgorithm, 0);
    }
};

CSha256::CSha256() : m_pState(std::make_unique<CState>())
{
    CState& state = *m_pState;
    DWORD dwObjectSize = 0;
    ULONG nWritten = 0;
    state.bFailed =
        !BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&state.hAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(::BCryptGetProperty(state.hAlgorithm, BCRYPT_OBJECT_LENGTH,
                                            reinterpret_cast<PUCHAR>(&dwObjectSize), sizeof dwObjectSize, &nWritten,
                                            0)) ||
        dwObjectSize == 0 || dwObjectSize > 65536;
    if (state.bFailed)
        return;
    // Windows 7 wants the hash object's memory from the caller.
    state.abObject.resize(dwObjectSize);
    state.bFailed = !BCRYPT_SUCCESS(::BCryptCreateHash(state.hAlgorithm, &state.hHash, state.abObject.data(),
                                                       dwObjectSize, nullptr, 0, 0));
}

CSha256::~CSha256() = default;

bool CSha256::Update(const void* pData, size_t nSize)
{
    const UCHAR* pBytes = static_cast<const UCHAR*>(pData);
    // BCryptHashData takes a 32-bit length: a large buffer goes in pieces.
    while (!m_pState->bFailed && nSize > 0) {
        const ULONG nPiece = nSize > 0x40000000 ? 0x40000000 : static_cast<ULONG>(nSize);
        if (!BCRYPT_SUCCESS(::BCryptHashData(m_pState->hHash, const_cast<PUCHAR>(pBytes), nPiece, 0)))
            m_pState->bFailed = true;
        pBytes += nPiece;
        nSize -= nPiece;
    }
    return !m_pState->bFailed;
}

bool CSha256::Finish(std::array<uint8_t, SHA256_DIGEST_BYTES>* pDigest)
{
    if (m_pState->bFailed ||
        !BCRYPT_SUCCESS(::BCryptFinishHash(m_pState->hHash, pDigest->data(), static_cast<ULONG>(pDigest->size()), 0))) {
        m_pState->bFailed = true;
        return false;
    }
    m_pState->bFailed = true;
    return true;
}
