// protect-credential: protects plain access keys the way a sender does, with
// a fresh random initialisation vector shared by all values of one run.
//
//   protect-credential [--json] VALUE...     ("-" reads one value per line
//                                             from standard input)
//
// Prints "Iv: <32 hex digits>" and one "Value: <hex>" line per value, in
// order; with --json one object {"Iv": ..., "values": [...]}.
#include "CredentialSender.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    bool bJson = false;
    std::vector<std::string> values;
    for (int i = 1; i < argc; ++i) {
        const std::string strArgument = argv[i];
        if (strArgument == "--json") {
            bJson = true;
        } else if (strArgument == "--help" || strArgument == "-h") {
            std::printf("usage: protect-credential [--json] VALUE... (\"-\": values from standard input)\n");
            return 0;
        } else if (strArgument == "-") {
            std::string strLine;
            while (std::getline(std::cin, strLine)) values.push_back(strLine);
        } else {
            values.push_back(strArgument);
        }
    }
    if (values.empty()) {
        std::fprintf(stderr, "usage: protect-credential [--json] VALUE...\n");
        return 2;
    }

    unsigned char iv[16];
    if (!makeCredentialIv(iv)) {
        std::fprintf(stderr, "protect-credential: no random bytes for the initialisation vector\n");
        return 1;
    }
    std::vector<std::string> protectedValues;
    for (const std::string& strValue : values) {
        std::string strProtected;
        if (!protectCredential(strValue, iv, strProtected)) {
            std::fprintf(stderr, "protect-credential: a value is longer than %zu bytes\n", kMaxProtectedPlainLength);
            return 1;
        }
        protectedValues.push_back(strProtected);
    }

    const std::string strIv = toHexText(iv, sizeof(iv));
    if (bJson) {
        std::printf("{\"Iv\":\"%s\",\"values\":[", strIv.c_str());
        for (size_t i = 0; i < protectedValues.size(); ++i)
            std::printf("%s\"%s\"", i ? "," : "", protectedValues[i].c_str());
        std::printf("]}\n");
    } else {
        std::printf("Iv: %s\n", strIv.c_str());
        for (const std::string& strProtected : protectedValues) std::printf("Value: %s\n", strProtected.c_str());
    }
    return 0;
}
