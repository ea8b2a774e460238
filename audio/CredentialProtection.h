// Protected device credentials: AES-128-CBC with a key stretched from the
// built-in key material by iterated SHA-256; the plain value travels as
// Base64 text inside the cipher text, the cipher text as hexadecimal text.
// No Qt here, so the codecs can be fuzzed on their own.
#ifndef AUDIO_CREDENTIALPROTECTION_H
#define AUDIO_CREDENTIALPROTECTION_H

#include <cstddef>
#include <cstdint>
#include <string>

// Size of every work area of the decryption.
constexpr std::size_t kCredentialWorkSize = 2048;
// The only protection scheme ("Security").
constexpr std::int32_t kCredentialScheme = 1;
// Length of the initialisation vector text.
constexpr std::size_t kCredentialIvTextLength = 32;
// Bytes of the derived key (only the first 16 are the AES-128 key).
constexpr std::size_t kCredentialDerivedKeySize = 32;

// Turns a protected value back into plain text. strPlain is emptied first.
// Returns false (strPlain empty) when the scheme is not 1, the protected text
// is empty or has 2048 characters or more, or the initialisation vector text
// does not have exactly 32 characters. Nothing checks that the result is
// right: a wrong key or vector gives arbitrary, possibly empty, text.
bool decryptCredential(const std::string& strProtected, std::int32_t iSecurity, const std::string& strIv,
                       std::string& strPlain);

// Zero-fills pOut and writes the 32-byte derived key at its start (as much of
// it as fits when nSize is smaller).
void deriveCredentialKey(unsigned char* pOut, std::size_t nSize);

// Zero-fills pOut; when nCount is at most half of nCapacity writes two
// lowercase hexadecimal digits per input byte (no terminating zero when the
// output is exactly full).
void hexEncode(const unsigned char* pIn, std::size_t nCount, char* pOut, std::size_t nCapacity);

// Zero-fills pOut; when nCount is at most twice nCapacity turns each pair of
// characters into one byte, high four bits first. Characters that are not
// hexadecimal digits count as 0; an odd last character gives the high bits of
// a last byte whose low bits are 0.
void hexDecode(const char* pIn, std::size_t nCount, unsigned char* pOut, std::size_t nCapacity);

// Lenient Base64 decoding of a zero-terminated text: every character outside
// A-Z, a-z, 0-9, '+' and '/' is dropped, the kept ones are taken four at a
// time (missing ones at the end count as 'A') and each group gives three
// bytes. Writes at most nCapacity bytes and returns the count written.
std::size_t base64Decode(const char* szText, unsigned char* pOut, std::size_t nCapacity);

#endif  // AUDIO_CREDENTIALPROTECTION_H
