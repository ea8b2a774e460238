#include "CredentialProtection.h"

#include "CredentialKeyMaterial.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <openssl/crypto.h>
#include <openssl/sha.h>

// The AES block calls are the 1.0 interface, deprecated in OpenSSL 3 but
// kept there; the warnings are silenced here only.
#if defined(__GNUC__) || defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
#include <openssl/aes.h>

namespace {

constexpr std::size_t kAesBlock = 16;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

// 6-bit value of a Base64 character, -1 for characters that are dropped.
int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Length of the text in pBuffer up to its first zero byte (or the whole area).
std::size_t textLength(const unsigned char* pBuffer, std::size_t nSize) {
    const void* pZero = std::memchr(pBuffer, 0, nSize);
    return pZero ? static_cast<std::size_t>(static_cast<const unsigned char*>(pZero) - pBuffer) : nSize;
}

}  // namespace

void deriveCredentialKey(unsigned char* pOut, std::size_t nSize) {
    if (!pOut) return;
    std::memset(pOut, 0, nSize);

    constexpr std::size_t nFirst = sizeof(credential_key_material::kFirst) - 1;
    constexpr std::size_t nSecond = sizeof(credential_key_material::kSecond) - 1;
    unsigned char message[nFirst + nSecond];
    std::memcpy(message, credential_key_material::kFirst, nFirst);
    std::memcpy(message + nFirst, credential_key_material::kSecond, nSecond);

    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(message, sizeof(message), digest);

    char hexText[2 * SHA256_DIGEST_LENGTH + 1];
    for (int iRound = 0; iRound < 99; ++iRound) {
        hexEncode(digest, sizeof(digest), hexText, sizeof(hexText));
        SHA256(reinterpret_cast<const unsigned char*>(hexText), 2 * SHA256_DIGEST_LENGTH, digest);
    }

    std::memcpy(pOut, digest, nSize < sizeof(digest) ? nSize : sizeof(digest));
    // Intermediate key values do not outlive the call.
    OPENSSL_cleanse(digest, sizeof(digest));
    OPENSSL_cleanse(hexText, sizeof(hexText));
    OPENSSL_cleanse(message, sizeof(message));
}

void hexEncode(const unsigned char* pIn, std::size_t nCount, char* pOut, std::size_t nCapacity) {
    if (!pOut) return;
    std::memset(pOut, 0, nCapacity);
    if (!pIn || nCount > nCapacity / 2) return;
    static const char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < nCount; ++i) {
        pOut[2 * i] = kDigits[pIn[i] >> 4];
        pOut[2 * i + 1] = kDigits[pIn[i] & 0x0f];
    }
}

void hexDecode(const char* pIn, std::size_t nCount, unsigned char* pOut, std::size_t nCapacity) {
    if (!pOut) return;
    std::memset(pOut, 0, nCapacity);
    if (!pIn || nCount / 2 + nCount % 2 > nCapacity) return;
    for (std::size_t i = 0; i < nCount; i += 2) {
        const int iHigh = hexValue(pIn[i]);
        const int iLow = i + 1 < nCount ? hexValue(pIn[i + 1]) : 0;
        pOut[i / 2] = static_cast<unsigned char>((iHigh << 4) | iLow);
    }
}

std::size_t base64Decode(const char* szText, unsigned char* pOut, std::size_t nCapacity) {
    if (!szText || !*szText || !pOut) return 0;

    const std::size_t nLength = std::strlen(szText);
    unsigned char* pKept = static_cast<unsigned char*>(std::malloc(nLength));
    if (!pKept) {
        std::printf("Malloc Failed\n");
        return 0;
    }
    std::size_t nKept = 0;
    for (std::size_t i = 0; i < nLength; ++i) {
        const int iValue = base64Value(static_cast<unsigned char>(szText[i]));
        if (iValue >= 0) pKept[nKept++] = static_cast<unsigned char>(iValue);
    }

    std::size_t nWritten = 0;
    for (std::size_t i = 0; i < nKept && nWritten < nCapacity; i += 4) {
        const unsigned v0 = pKept[i];
        const unsigned v1 = i + 1 < nKept ? pKept[i + 1] : 0;
        const unsigned v2 = i + 2 < nKept ? pKept[i + 2] : 0;
        const unsigned v3 = i + 3 < nKept ? pKept[i + 3] : 0;
        const unsigned long group = (v0 << 18) | (v1 << 12) | (v2 << 6) | v3;
        const unsigned char bytes[3] = {static_cast<unsigned char>(group >> 16), static_cast<unsigned char>(group >> 8),
                                        static_cast<unsigned char>(group)};
        for (unsigned char byte : bytes) {
            if (nWritten == nCapacity) break;
            pOut[nWritten++] = byte;
        }
    }
    std::free(pKept);
    return nWritten;
}

bool decryptCredential(const std::string& strProtected, std::int32_t iSecurity, const std::string& strIv,
                       std::string& strPlain) {
    strPlain.clear();
    if (iSecurity != kCredentialScheme) return false;
    if (strProtected.empty() || strProtected.size() >= kCredentialWorkSize) return false;
    if (strIv.size() != kCredentialIvTextLength) return false;

    unsigned char cipher[kCredentialWorkSize] = {};
    hexDecode(strProtected.data(), strProtected.size(), cipher, sizeof(cipher));

    unsigned char derivedKey[kCredentialDerivedKeySize + 1];
    deriveCredentialKey(derivedKey, sizeof(derivedKey));
    AES_KEY schedule;
    std::memset(&schedule, 0, sizeof(schedule));
    AES_set_decrypt_key(derivedKey, 128, &schedule);

    // A last partial block is completed with the area's zero bytes.
    const std::size_t nBytes = strProtected.size() / 2;
    const std::size_t nBlocks = nBytes / kAesBlock + (nBytes % kAesBlock ? 1 : 0);

    unsigned char iv[kAesBlock];
    hexDecode(strIv.data(), kCredentialIvTextLength, iv, sizeof(iv));

    unsigned char decrypted[kCredentialWorkSize] = {};
    AES_cbc_encrypt(cipher, decrypted, nBlocks * kAesBlock, &schedule, iv, AES_DECRYPT);

    // At most 64 blocks land in a 2048-byte area, so the text always ends in
    // a zero byte inside it.
    unsigned char plain[kCredentialWorkSize] = {};
    base64Decode(reinterpret_cast<const char*>(decrypted), plain, sizeof(plain));
    strPlain.assign(reinterpret_cast<const char*>(plain), textLength(plain, sizeof(plain)));

    OPENSSL_cleanse(derivedKey, sizeof(derivedKey));
    OPENSSL_cleanse(&schedule, sizeof(schedule));
    OPENSSL_cleanse(decrypted, sizeof(decrypted));
    OPENSSL_cleanse(plain, sizeof(plain));
    return true;
}

#if defined(__GNUC__) || defined(__clang__)
#pragma GCC diagnostic pop
#endif
