#include "CredentialSender.h"

#include "CredentialProtection.h"

#include <memory>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

bool makeCredentialIv(unsigned char* pIv16) {
    return RAND_bytes(pIv16, 16) == 1;
}

std::string toHexText(const unsigned char* pBytes, std::size_t nCount) {
    std::vector<char> text(2 * nCount + 1);
    hexEncode(pBytes, nCount, text.data(), text.size());
    return std::string(text.data(), 2 * nCount);
}

bool protectCredential(const std::string& strPlain, const unsigned char* pIv16, std::string& strProtected) {
    strProtected.clear();
    if (strPlain.size() > kMaxProtectedPlainLength) return false;

    // Base64 text, then zero bytes up to the next whole block (a whole block
    // of zeros when the text already ends on a block boundary).
    std::vector<unsigned char> block(4 * ((strPlain.size() + 2) / 3) + 1);
    const int iTextLength = EVP_EncodeBlock(block.data(), reinterpret_cast<const unsigned char*>(strPlain.data()),
                                            static_cast<int>(strPlain.size()));
    const std::size_t nPadded = (static_cast<std::size_t>(iTextLength) / 16 + 1) * 16;
    block.resize(nPadded, 0);
    for (std::size_t i = static_cast<std::size_t>(iTextLength); i < nPadded; ++i) block[i] = 0;

    unsigned char derivedKey[kCredentialDerivedKeySize + 1];
    deriveCredentialKey(derivedKey, sizeof(derivedKey));

    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    std::vector<unsigned char> cipher(nPadded + 16);
    int iOut = 0;
    int iFinal = 0;
    const bool bOk =
        context && EVP_EncryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, derivedKey, pIv16) == 1 &&
        EVP_CIPHER_CTX_set_padding(context.get(), 0) == 1 &&
        EVP_EncryptUpdate(context.get(), cipher.data(), &iOut, block.data(), static_cast<int>(nPadded)) == 1 &&
        EVP_EncryptFinal_ex(context.get(), cipher.data() + iOut, &iFinal) == 1;
    OPENSSL_cleanse(derivedKey, sizeof(derivedKey));
    OPENSSL_cleanse(block.data(), block.size());
    if (!bOk) return false;
    strProtected = toHexText(cipher.data(), static_cast<std::size_t>(iOut + iFinal));
    return true;
}
