// Base64 (standard alphabet, "=" padding) as the image channel's packets use
// it.
#ifndef TRANSPORT_BASE64_H
#define TRANSPORT_BASE64_H

namespace private_encrypt_space {

class CBase64 {
public:
    // Decodes iSrcLen characters of szSrc into pDest and returns the number of
    // bytes written. Characters outside the alphabet are skipped; a "=" in the
    // third or fourth place of a four-character group ends the decoding. A
    // trailing group of two or three characters yields its one or two bytes.
    // Returns -1, with at most iDestCapacity bytes written, when the decoded
    // bytes would not fit into iDestCapacity.
    static int Decode(unsigned char* pDest, const char* szSrc, int iSrcLen, int iDestCapacity);
    // The same over UTF-16 text (every character outside the alphabet is
    // skipped, so this equals decoding the text's UTF-8 form).
    static int Decode(unsigned char* pDest, const char16_t* szSrc, int iSrcLen, int iDestCapacity);
};

}  // namespace private_encrypt_space

#endif  // TRANSPORT_BASE64_H
