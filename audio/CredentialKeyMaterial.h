// Key material of the credential protection. Both texts are constants of the
// build and must equal those of every sender that protects credentials
// (tools/protect-credential and tools/protect-credential.js carry the same
// values). Never written out.
#ifndef AUDIO_CREDENTIALKEYMATERIAL_H
#define AUDIO_CREDENTIALKEYMATERIAL_H

namespace credential_key_material {

// 64 lowercase hexadecimal digits, used as text (not decoded).
constexpr char kFirst[] = "e5fe1d1a12f99ba5e925f9f454f5aa507da1c7073b936d6fe77d8601704ef15a";
// 16 printable ASCII characters.
constexpr char kSecond[] = "Kq7#vR2!mZ9+tL4&";

static_assert(sizeof(kFirst) - 1 == 64, "first key material text has 64 characters");
static_assert(sizeof(kSecond) - 1 == 16, "second key material text has 16 characters");

}  // namespace credential_key_material

#endif  // AUDIO_CREDENTIALKEYMATERIAL_H
