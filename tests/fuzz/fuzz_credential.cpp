// Fuzz entry for the credential decryption and its codecs. The first byte
// picks the operation; the checks abort on a broken invariant, so the fuzzer
// (and the regression test that replays saved inputs) report it.
//
//   0: base64Decode of the rest as a zero-terminated text
//   1: decryptCredential: byte 1 the scheme, byte 2 the vector text length
//      (cut to what is there), then the vector text, then the protected text
//   2: hexEncode then hexDecode of the rest gives it back
#include "CredentialProtection.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check(bool bHolds) {
    if (!bHolds) std::abort();
}

size_t keptBase64Characters(const std::string& strText) {
    size_t nKept = 0;
    for (unsigned char c : strText) {
        if (c == 0) break;
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/') ++nKept;
    }
    return nKept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize == 0) return 0;
    const uint8_t iOperation = pData[0] % 3;
    ++pData;
    --nSize;

    if (iOperation == 0) {
        const std::string strText(reinterpret_cast<const char*>(pData), nSize);
        std::vector<unsigned char> out(kCredentialWorkSize + 1, 0xEE);
        const size_t nWritten = base64Decode(strText.c_str(), out.data(), kCredentialWorkSize);
        check(nWritten <= kCredentialWorkSize);
        check(out[kCredentialWorkSize] == 0xEE);
        const size_t nKept = keptBase64Characters(strText);
        const size_t nGroups = (nKept + 3) / 4;
        check(nWritten == std::min<size_t>(3 * nGroups, kCredentialWorkSize));
    } else if (iOperation == 1) {
        if (nSize < 2) return 0;
        const int32_t iSecurity = static_cast<int8_t>(pData[0]);
        size_t nIv = pData[1];
        pData += 2;
        nSize -= 2;
        if (nIv > nSize) nIv = nSize;
        const std::string strIv(reinterpret_cast<const char*>(pData), nIv);
        const std::string strProtected(reinterpret_cast<const char*>(pData + nIv), nSize - nIv);
        std::string strPlain = "previous";
        const bool bRan = decryptCredential(strProtected, iSecurity, strIv, strPlain);
        const bool bAcceptable = iSecurity == 1 && !strProtected.empty() && strProtected.size() < 2048 && nIv == 32;
        check(bRan == bAcceptable);
        if (!bRan) check(strPlain.empty());
        // At most 64 blocks of Base64 text: 1024 characters give 768 bytes.
        check(strPlain.size() <= 768);
        check(strPlain.find('\0') == std::string::npos);
    } else {
        if (nSize > kCredentialWorkSize / 2) nSize = kCredentialWorkSize / 2;
        std::vector<char> text(2 * nSize + 1, 'x');
        hexEncode(pData, nSize, text.data(), text.size());
        check(text[2 * nSize] == '\0');
        std::vector<unsigned char> back(nSize + 1, 0xEE);
        hexDecode(text.data(), 2 * nSize, back.data(), nSize);
        check(nSize == 0 || std::memcmp(back.data(), pData, nSize) == 0);
        check(back[nSize] == 0xEE);
    }
    return 0;
}
