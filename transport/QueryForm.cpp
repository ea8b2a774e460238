#include "QueryForm.h"

#include <QByteArray>

namespace QueryForm {

QString findValue(const QString& strQuery, const QString& strKey) {
    if (strKey.isEmpty()) return QString();
    const int iKey = strQuery.indexOf(strKey);
    if (iKey < 0) return QString();
    const int iStart = iKey + strKey.size();
    const int iEnd = strQuery.indexOf(QLatin1Char('&'), iStart);
    return strQuery.mid(iStart, iEnd < 0 ? -1 : iEnd - iStart);
}

bool isLastPiece(const QString& strQuery) {
    return strQuery.contains(QLatin1String("&isLast=true"));
}

QString percentDecode(const QString& strValue) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(strValue.toUtf8()));
}

int toInt(const QString& strValue) {
    return strValue.toInt(nullptr, 10);
}

}  // namespace QueryForm
