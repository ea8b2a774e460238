// Pure helpers for the query form of HTTP requests: finding a value in the
// query text, the percent-decoding of the user name and the integer values.
#ifndef TRANSPORT_QUERYFORM_H
#define TRANSPORT_QUERYFORM_H

#include <QString>

namespace QueryForm {

// Returns the text after the first occurrence of strKey (written with its
// leading "&" and trailing "=", for example "&data=") up to the next "&" or
// the end of strQuery. A parameter that opens the query without a leading "&"
// is therefore not found. Empty when the key is absent.
QString findValue(const QString& strQuery, const QString& strKey);

// True when the query carries the literal "&isLast=true" (case-sensitive).
bool isLastPiece(const QString& strQuery);

// Percent-decodes a value ("%40" becomes "@"); the decoded bytes are read as
// UTF-8. Anything that is not a valid escape is kept as it is.
QString percentDecode(const QString& strValue);

// Base-10 integer of the value; 0 when the text is not a number that fits in
// 32 bits.
int toInt(const QString& strValue);

}  // namespace QueryForm

#endif  // TRANSPORT_QUERYFORM_H
