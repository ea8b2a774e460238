// The sender's side of the credential protection: what a page or a portal
// does to a plain access key before it puts it into a talk start.
#ifndef TOOLS_CREDENTIALSENDER_H
#define TOOLS_CREDENTIALSENDER_H

#include <string>

// Longest plain value whose protected text stays below 2048 characters.
constexpr std::size_t kMaxProtectedPlainLength = 753;

// Fills the 16 bytes with fresh random bytes; false when no randomness
// could be had.
bool makeCredentialIv(unsigned char* pIv16);

// Protects strPlain with the 16-byte initialisation vector: Base64, zero
// completion to whole blocks (a whole zero block when already whole),
// AES-128-CBC with the derived key, lowercase hexadecimal. Returns false when
// the value is too long or the encryption fails.
bool protectCredential(const std::string& strPlain, const unsigned char* pIv16, std::string& strProtected);

// Lowercase hexadecimal text of bytes.
std::string toHexText(const unsigned char* pBytes, std::size_t nCount);

#endif  // TOOLS_CREDENTIALSENDER_H
