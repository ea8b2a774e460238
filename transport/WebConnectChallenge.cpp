#include "WebConnectChallenge.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kDigestBytes = 32;
constexpr size_t kDigestTextBytes = 2 * kDigestBytes;

const char kRequestLinePrefix[] = "GET/OKAPI/Security/sessionLogin/capabilities";

// Texts enter the formats as C strings: anything after a zero byte is not
// part of them.
QByteArray cText(const QByteArray& text) {
    const int iZero = text.indexOf('\0');
    return iZero < 0 ? text : text.left(iZero);
}

void toHex(const unsigned char* pBytes, size_t iLength, char* szOut) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < iLength; ++i) {
        szOut[2 * i] = kDigits[pBytes[i] >> 4];
        szOut[2 * i + 1] = kDigits[pBytes[i] & 0x0f];
    }
    szOut[2 * iLength] = '\0';
}

}  // namespace

void sha256ToText(const unsigned char* pData, size_t iLength, char* szOut) {
    unsigned char aDigest[kDigestBytes];
    static const unsigned char kEmpty = 0;
    SHA256(pData != nullptr ? pData : &kEmpty, pData != nullptr ? iLength : 0, aDigest);
    toHex(aDigest, kDigestBytes, szOut);
    OPENSSL_cleanse(aDigest, sizeof(aDigest));
}

void hmacSha256(const unsigned char* pKey, size_t iKeyLength, const unsigned char* pMessage, size_t iMessageLength,
                unsigned char* pOut) {
    static const unsigned char kEmpty = 0;
    unsigned int uOutLength = kDigestBytes;
    // The one-shot form keeps and wipes its context internally.
    if (HMAC(EVP_sha256(), pKey != nullptr ? pKey : &kEmpty, static_cast<int>(iKeyLength),
             pMessage != nullptr ? pMessage : &kEmpty, iMessageLength, pOut, &uOutLength) == nullptr) {
        std::memset(pOut, 0, kDigestBytes);
    }
}

int checkWebConnectChallenge(const QByteArray& strLoginId, const QByteArray& strUser, const QByteArray& strChallenge,
                             int iIterations, int iRandom) {
    const QByteArray user = cText(strUser);
    const QByteArray challenge = cText(strChallenge);

    const QByteArray requestLine = QByteArray(kRequestLinePrefix) + user + QByteArray::number(iRandom);
    if (requestLine.size() > kMaxChallengeRequestLine) return -1;
    QByteArray keyMaterial = user + QByteArray::number(iIterations) + challenge;
    if (keyMaterial.size() > kMaxChallengeKeyMaterial) return -1;

    char szKey[kDigestTextBytes + 1];
    sha256ToText(reinterpret_cast<const unsigned char*>(keyMaterial.constData()),
                 static_cast<size_t>(keyMaterial.size()), szKey);

    unsigned char aMac[kDigestBytes];
    hmacSha256(reinterpret_cast<const unsigned char*>(szKey), kDigestTextBytes,
               reinterpret_cast<const unsigned char*>(requestLine.constData()), static_cast<size_t>(requestLine.size()),
               aMac);
    char szExpected[kDigestTextBytes + 1];
    toHex(aMac, kDigestBytes, szExpected);

    const bool bMatch = strLoginId.size() == static_cast<int>(kDigestTextBytes) &&
                        CRYPTO_memcmp(strLoginId.constData(), szExpected, kDigestTextBytes) == 0;

    OPENSSL_cleanse(szKey, sizeof(szKey));
    OPENSSL_cleanse(aMac, sizeof(aMac));
    OPENSSL_cleanse(szExpected, sizeof(szExpected));
    OPENSSL_cleanse(keyMaterial.data(), static_cast<size_t>(keyMaterial.size()));
    return bMatch ? 0 : -1;
}
