// Cost of one credential decryption against its reference in the same run:
// 100 SHA-256 digests of 64 bytes, the key derivation every decryption
// repeats. A ratio near 1 means the decryption adds little beyond deriving
// the key; a start decrypts two values.
#include "CredentialProtection.h"
#include "CredentialSender.h"

#include <openssl/sha.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main() {
    constexpr int kRounds = 2000;
    unsigned char iv[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::string strShort, strLong;
    protectCredential("a-typical-access-key-0123456789", iv, strShort);
    protectCredential(std::string(kMaxProtectedPlainLength, 'k'), iv, strLong);
    const std::string strIv = toHexText(iv, sizeof(iv));

    unsigned char text[64] = {};
    unsigned char digest[SHA256_DIGEST_LENGTH];
    auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i)
        for (int j = 0; j < 100; ++j) SHA256(text, sizeof(text), digest), text[j % 64] ^= digest[0];
    const double dReference = secondsSince(start) / kRounds;

    std::string strPlain;
    size_t nTotal = 0;
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        decryptCredential(strShort, 1, strIv, strPlain);
        nTotal += strPlain.size();
    }
    const double dShort = secondsSince(start) / kRounds;
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        decryptCredential(strLong, 1, strIv, strPlain);
        nTotal += strPlain.size();
    }
    const double dLong = secondsSince(start) / kRounds;

    std::printf("reference (100 x SHA-256 of 64 bytes): %.1f us\n", dReference * 1e6);
    std::printf("decrypt %zu-char value: %.1f us, ratio %.2f\n", strShort.size(), dShort * 1e6, dShort / dReference);
    std::printf("decrypt %zu-char value: %.1f us, ratio %.2f\n", strLong.size(), dLong * 1e6, dLong / dReference);
    return nTotal == 0 ? 1 : 0;
}
