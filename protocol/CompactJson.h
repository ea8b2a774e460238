// The compact JSON text of one answer object, written straight from its
// members: the same bytes as QJsonDocument(object).toJson(Compact) gives for
// the QJsonObject with the same members (keys in QJsonObject's order, a key
// inserted again keeps its last value), without building that object. Every
// command's answer is written this way, so the cost of a QJsonObject and its
// serialiser (most of a command's time in the service) is not paid per
// command.
//
// Keys are ASCII literals: they are kept, not copied. Texts of printable ASCII (the envelope's uuids,
// sequences, versions) are escaped here; any other text or value is written
// by Qt's own serialiser, one value at a time.
//
// Thread rules: a value type; no shared state.
#ifndef PROTOCOL_COMPACTJSON_H
#define PROTOCOL_COMPACTJSON_H

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QVarLengthArray>

class QJsonValue;

class CompactJson {
public:
    CompactJson& insert(QLatin1String key, const QString& strValue);
    CompactJson& insert(QLatin1String key, QLatin1String value);
    CompactJson& insert(QLatin1String key, int iValue);
    CompactJson& insert(QLatin1String key, bool bValue);
    CompactJson& insert(QLatin1String key, const QJsonValue& value);
    // A text literal is text, not a bool.
    CompactJson& insert(QLatin1String key, const char* szValue) = delete;

    QByteArray toJson() const;
    QString toString() const;

    // Room for the text of an answer without a heap allocation.
    using Buffer = QVarLengthArray<char, 256>;

private:
    struct Member {
        QLatin1String key;
        int iOffset;  // of its value's text in m_values
        int iLength;
    };
    // Appends the value text written since iOffset under the key.
    CompactJson& take(QLatin1String key, int iOffset);
    void write(Buffer& out) const;

    QVarLengthArray<Member, 8> m_members;
    Buffer m_values;
};

#endif  // PROTOCOL_COMPACTJSON_H
