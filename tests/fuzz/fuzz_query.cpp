// Fuzz target: the query form of HTTP requests, as the worker reads it: the
// URL's query text, the "&key=" value search, the percent-decoding of the
// user, the integer values, and the handshake check fed with them.
#include "QueryForm.h"
#include "WebConnectChallenge.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool bCondition) {
    if (!bCondition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize) {
    const QByteArray input(reinterpret_cast<const char*>(pData), static_cast<int>(uSize));
    const QUrl url(QStringLiteral("http://127.0.0.1/?") + QString::fromUtf8(input));
    const QString strQuery = url.query();

    static const char* const kKeys[] = {
        "&data=", "&sequence=", "&sessionID=", "&user=", "&challenge=", "&iterations=", "&random="};
    QString aValues[7];
    for (int i = 0; i < 7; ++i) {
        const QString strKey = QLatin1String(kKeys[i]);
        aValues[i] = QueryForm::findValue(strQuery, strKey);
        // The value follows the first occurrence of the key and stops before
        // the next "&".
        require(!aValues[i].contains(QLatin1Char('&')));
        const int iKey = strQuery.indexOf(strKey);
        if (iKey < 0) {
            require(aValues[i].isEmpty());
        } else {
            require(strQuery.midRef(iKey + strKey.size()).startsWith(aValues[i]));
        }
    }
    require(QueryForm::isLastPiece(strQuery) == strQuery.contains(QLatin1String("&isLast=true")));

    const QString strUser = QueryForm::percentDecode(aValues[3]);
    if (!aValues[3].contains(QLatin1Char('%'))) require(strUser == aValues[3]);
    const int iIterations = QueryForm::toInt(aValues[5]);
    const int iRandom = QueryForm::toInt(aValues[6]);
    require(QueryForm::toInt(QString::number(iRandom)) == iRandom);

    const int iCheck =
        checkWebConnectChallenge(aValues[2].toUtf8(), strUser.toUtf8(), aValues[4].toUtf8(), iIterations, iRandom);
    require(iCheck == 0 || iCheck == -1);
    return 0;
}
