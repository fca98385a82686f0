#pragma once
// SHA-256 digests from the system's own cryptographic library (libcrypto on Linux, the CNG
// hashing calls on Windows): the update log names each file sent by its digest, so that a
// file can be matched to what a bench sent however it was renamed or copied.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

constexpr size_t SHA256_DIGEST_BYTES = 32;

class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // Adds nSize bytes to the digest. False once the library has failed (then Finish fails too).
    bool Update(const void* pData, size_t nSize);
    // The digest of everything added; false when the library could not give it.
    bool Finish(std::array<uint8_t, SHA256_DIGEST_BYTES>* pDigest);

private:
    struct CState;
    std::unique_ptr<CState> m_pState;
};

// The digest of nSize bytes as 64 lower-case hex digits; "" when the library failed.
std::string Sha256Hex(const void* pData, size_t nSize);
