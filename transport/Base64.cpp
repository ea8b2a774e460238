#include "Base64.h"

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

}  // namespace

int CBase64::Decode(unsigned char* pDest, const char* szSrc, int iSrcLen, int iDestCapacity) {
    if (pDest == nullptr || szSrc == nullptr || iSrcLen <= 0 || iDestCapacity < 0) return 0;

    int iWritten = 0;
    int aGroup[4];
    int iInGroup = 0;

    auto put = [&](int iByte) -> bool {
        if (iWritten >= iDestCapacity) return false;
        pDest[iWritten++] = static_cast<unsigned char>(iByte);
        return true;
    };

    for (int i = 0; i < iSrcLen; ++i) {
        const int iValue = kTable.aValue[static_cast<unsigned char>(szSrc[i])];
        if (iValue == -1) continue;
        if (iValue == -2) {
            // Padding: only meaningful in the third or fourth place, where it
            // ends the data. Elsewhere it is skipped like any stray character.
            if (iInGroup >= 2) break;
            continue;
        }
        aGroup[iInGroup++] = iValue;
        if (iInGroup == 4) {
            if (!put((aGroup[0] << 2) | (aGroup[1] >> 4))) return -1;
            if (!put(((aGroup[1] & 0x0f) << 4) | (aGroup[2] >> 2))) return -1;
            if (!put(((aGroup[2] & 0x03) << 6) | aGroup[3])) return -1;
            iInGroup = 0;
        }
    }

    // A short last group (ended by padding or by the end of the input).
    if (iInGroup >= 2) {
        if (!put((aGroup[0] << 2) | (aGroup[1] >> 4))) return -1;
        if (iInGroup == 3 && !put(((aGroup[1] & 0x0f) << 4) | (aGroup[2] >> 2))) return -1;
    }
    return iWritten;
}

}  // namespace private_encrypt_space
