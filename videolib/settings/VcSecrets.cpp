// VC_SetSecretKey, VC_SetOriginalString, VC_GetEncryptString and
// VC_GetDecryptString (see Secrets.h).
#include "Secrets.h"

#include "VcLibrary.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>

using namespace vc;

namespace {

constexpr size_t kMaxOwners = 256;
constexpr int kMaxKeyLength = 1024;  // characters of the key text
constexpr int kMaxTextBytes = 4096;  // UTF-8 bytes of a text to protect
constexpr char kVersion = 1;
constexpr int kNonceBytes = 12;
constexpr int kTagBytes = 16;

// A 256-bit key, wiped when it goes.
struct Key {
    std::array<unsigned char, 32> bytes{};
    bool bSet = false;
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

// What one page (one "uuid") keeps here.
struct Secret {
    std::unique_ptr<Key> pKey;
    QString strOriginal;
    quint64 iTouched = 0;  // for dropping the oldest
};

struct Secrets {
    std::map<QString, Secret> owners;
    quint64 iClock = 0;
};

Secrets& secrets() {
    static Secrets s_secrets;
    return s_secrets;
}

// The page's record, made (dropping the oldest record when full).
Secret& secretOf(const QJsonObject& request) {
    Secrets& all = secrets();
    const QString strOwner = request.value(QStringLiteral("uuid")).toString();
    if (!all.owners.count(strOwner) && all.owners.size() >= kMaxOwners) {
        all.owners.erase(std::min_element(all.owners.begin(), all.owners.end(), [](const auto& a, const auto& b) {
            return a.second.iTouched < b.second.iTouched;
        }));
    }
    Secret& secret = all.owners[strOwner];
    secret.iTouched = ++all.iClock;
    return secret;
}

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

QByteArray seal(const Key& key, const QByteArray& baPlain) {
    QByteArray baSealed(1 + kNonceBytes + baPlain.size() + kTagBytes, '\0');
    auto* pOut = reinterpret_cast<unsigned char*>(baSealed.data());
    pOut[0] = kVersion;
    unsigned char* pNonce = pOut + 1;
    unsigned char* pCipher = pNonce + kNonceBytes;
    const CipherContext context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int iLength = 0;
    int iFinal = 0;
    const bool bOk =
        context && RAND_bytes(pNonce, kNonceBytes) == 1 &&
        EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.bytes.data(), pNonce) == 1 &&
        EVP_EncryptUpdate(context.get(), nullptr, &iLength, pOut, 1) == 1 &&
        EVP_EncryptUpdate(context.get(), pCipher, &iLength, reinterpret_cast<const unsigned char*>(baPlain.constData()),
                          baPlain.size()) == 1 &&
        EVP_EncryptFinal_ex(context.get(), pCipher + iLength, &iFinal) == 1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, pCipher + baPlain.size()) == 1;
    return bOk ? baSealed : QByteArray();
}

// False when the sealed text is malformed, changed or sealed under another
// key.
bool open(const Key& key, const QByteArray& baSealed, QByteArray* pPlain) {
    const int iCipherBytes = baSealed.size() - 1 - kNonceBytes - kTagBytes;
    if (iCipherBytes < 0 || baSealed[0] != kVersion) return false;
    const auto* pIn = reinterpret_cast<const unsigned char*>(baSealed.constData());
    const unsigned char* pNonce = pIn + 1;
    const unsigned char* pCipher = pNonce + kNonceBytes;
    std::array<unsigned char, kTagBytes> tag;
    std::copy(pCipher + iCipherBytes, pCipher + iCipherBytes + kTagBytes, tag.begin());
    QByteArray baPlain(iCipherBytes, '\0');
    const CipherContext context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int iLength = 0;
    int iFinal = 0;
    const bool bOk =
        context && EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.bytes.data(), pNonce) == 1 &&
        EVP_DecryptUpdate(context.get(), nullptr, &iLength, pIn, 1) == 1 &&
        EVP_DecryptUpdate(context.get(), reinterpret_cast<unsigned char*>(baPlain.data()), &iLength, pCipher,
                          iCipherBytes) == 1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kTagBytes, tag.data()) == 1 &&
        EVP_DecryptFinal_ex(context.get(), reinterpret_cast<unsigned char*>(baPlain.data()) + iLength, &iFinal) == 1;
    if (bOk) *pPlain = baPlain;
    return bOk;
}

QJsonObject setSecretKey(const QJsonObject& request) {
    const QJsonValue key = request.value(QStringLiteral("key"));
    if (!key.isString() || key.toString().isEmpty() || key.toString().size() > kMaxKeyLength)
        return errorResult(Error::BadRequest,
                           QStringLiteral("\"key\" must be a text of 1 to %1 characters").arg(kMaxKeyLength));
    auto pKey = std::make_unique<Key>();
    QByteArray baText = key.toString().toUtf8();
    unsigned int iDigestBytes = 0;
    pKey->bSet =
        EVP_Digest(baText.constData(), baText.size(), pKey->bytes.data(), &iDigestBytes, EVP_sha256(), nullptr) == 1;
    OPENSSL_cleanse(baText.data(), baText.size());
    if (!pKey->bSet) return errorResult(Error::BadRequest, QStringLiteral("the key could not be derived"));
    secretOf(request).pKey = std::move(pKey);
    return QJsonObject();
}

QJsonObject setOriginalString(const QJsonObject& request) {
    const QJsonValue text = request.value(QStringLiteral("text"));
    if (!text.isString() || text.toString().toUtf8().size() > kMaxTextBytes)
        return errorResult(Error::BadRequest,
                           QStringLiteral("\"text\" must be a text of up to %1 bytes").arg(kMaxTextBytes));
    secretOf(request).strOriginal = text.toString();
    return QJsonObject();
}

// "text", else the original string set before.
QJsonObject encrypt(const QJsonObject& request) {
    Secret& secret = secretOf(request);
    const QJsonValue text = request.value(QStringLiteral("text"));
    const QByteArray baPlain = (text.isString() ? text.toString() : secret.strOriginal).toUtf8();
    if ((!text.isUndefined() && !text.isString()) || baPlain.size() > kMaxTextBytes)
        return errorResult(Error::BadRequest,
                           QStringLiteral("\"text\" must be a text of up to %1 bytes").arg(kMaxTextBytes));
    if (!secret.pKey) return errorResult(Error::NoSecretKey);
    const QByteArray baSealed = seal(*secret.pKey, baPlain);
    if (baSealed.isEmpty()) return errorResult(Error::BadRequest, QStringLiteral("encryption failed"));
    return QJsonObject{{"cipherText", QString::fromLatin1(baSealed.toBase64())}};
}

QJsonObject decrypt(const QJsonObject& request) {
    const QJsonValue cipherText = request.value(QStringLiteral("cipherText"));
    if (!cipherText.isString())
        return errorResult(Error::BadRequest, QStringLiteral("\"cipherText\" must be the text encryption gave"));
    const Secret& secret = secretOf(request);
    if (!secret.pKey) return errorResult(Error::NoSecretKey);
    const auto decoded =
        QByteArray::fromBase64Encoding(cipherText.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    QByteArray baPlain;
    if (!decoded || !open(*secret.pKey, decoded.decoded, &baPlain)) return errorResult(Error::NotAuthentic);
    return QJsonObject{{"text", QString::fromUtf8(baPlain)}};
}

}  // namespace

void vc::forgetSecrets() {
    secrets().owners.clear();
}

VC_DEFINE_REQUEST(VC_SetSecretKey, setSecretKey)
VC_DEFINE_REQUEST(VC_SetOriginalString, setOriginalString)
VC_DEFINE_REQUEST(VC_GetEncryptString, encrypt)
VC_DEFINE_REQUEST(VC_GetDecryptString, decrypt)
