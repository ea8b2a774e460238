#include "Base64.h"

#include <type_traits>

namespace private_encrypt_space {

namespace {

// -1 for characters outside the alphabet, -2 for "=".
struct DecodeTable {
    signed char aValue[256];
    DecodeTable() {
        for (signed char& c : aValue) c = -1;
        const char* szAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) aValue[static_cast<unsigned char>(szAlphabet[i])] = static_cast<signed char>(i);
        aValue[static_cast<unsigned char>('=')] = -2;
    }
};

const DecodeTable kTable;

template <typename Char>
int decodeText(unsigned char* pDest, const Char* szSrc, int iSrcLen, int iDestCapacity) {
    if (pDest == nullptr || szSrc == nullptr || iSrcLen <= 0 || iDestCapacity < 0) return 0;

    int iWritten = 0;
    unsigned uGroup = 0;  // the sextets of the group so far, 6 bits each
    int iInGroup = 0;
    for (int i = 0; i < iSrcLen; ++i) {
        const auto uChar = static_cast<typename std::make_unsigned<Char>::type>(szSrc[i]);
        const int iValue = uChar < 256 ? kTable.aValue[uChar] : -1;
        if (iValue == -1) continue;
        if (iValue == -2) {
            // Padding: only meaningful in the third or fourth place, where it
            // ends the data. Elsewhere it is skipped like any stray character.
            if (iInGroup >= 2) break;
            continue;
        }
        uGroup = (uGroup << 6) | static_cast<unsigned>(iValue);
        if (++iInGroup == 4) {
            if (iDestCapacity - iWritten < 3) {
                // Write what fits, then report the overflow.
                for (int iShift = 16; iShift >= 0 && iWritten < iDestCapacity; iShift -= 8)
                    pDest[iWritten++] = static_cast<unsigned char>(uGroup >> iShift);
                return -1;
            }
            pDest[iWritten++] = static_cast<unsigned char>(uGroup >> 16);
            pDest[iWritten++] = static_cast<unsigned char>(uGroup >> 8);
            pDest[iWritten++] = static_cast<unsigned char>(uGroup);
            uGroup = 0;
            iInGroup = 0;
        }
    }

    // A short last group (ended by padding or by the end of the input): two
    // characters give one byte, three give two.
    if (iInGroup >= 2) {
        uGroup <<= 6 * (4 - iInGroup);
        const int iBytes = iInGroup - 1;
        for (int b = 0; b < iBytes; ++b) {
            if (iWritten >= iDestCapacity) return -1;
            pDest[iWritten++] = static_cast<unsigned char>(uGroup >> (16 - 8 * b));
        }
    }
    return iWritten;
}

}  // namespace

int CBase64::Decode(unsigned char* pDest, const char* szSrc, int iSrcLen, int iDestCapacity) {
    return decodeText(pDest, szSrc, iSrcLen, iDestCapacity);
}

int CBase64::Decode(unsigned char* pDest, const char16_t* szSrc, int iSrcLen, int iDestCapacity) {
    return decodeText(pDest, szSrc, iSrcLen, iDestCapacity);
}

}  // namespace private_encrypt_space
