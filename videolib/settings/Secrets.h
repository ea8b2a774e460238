// Protected strings: short texts (a device password a page must not keep in
// clear) sealed with AES-256-GCM from libcrypto under a key the page sets.
//
// Each page has its own key and original string, kept under the request's
// "uuid"; the key is the SHA-256 digest of the key text, held only in
// memory, wiped when replaced or forgotten and never logged. At most 256
// pages' secrets are kept; the oldest go first.
//
// A cipher text is the Base64 text of: one version byte (1), a random
// 12-byte nonce, the encrypted UTF-8 text and the 16-byte tag; the version
// byte is authenticated too, so any change to the text is refused.
//
// GUI thread only.
#ifndef VIDEO_CONTROL_SECRETS_H
#define VIDEO_CONTROL_SECRETS_H

namespace vc {

// Wipes and forgets every key and original string.
void forgetSecrets();

}  // namespace vc

#endif  // VIDEO_CONTROL_SECRETS_H
