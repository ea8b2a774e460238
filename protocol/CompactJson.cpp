#include "CompactJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>

namespace {
// Writes a text of printable ASCII as a JSON string, with Qt's escapes for
// '"' and '\'; false (and nothing written) for any other text.
template <typename Char>
bool appendPlainText(QByteArray& baOut, const Char* pBegin, const Char* pEnd) {
    const int iStart = baOut.size();
    baOut.resize(iStart + 2 + 2 * static_cast<int>(pEnd - pBegin));
    char* pOut = baOut.data() + iStart;
    *pOut++ = '"';
    for (const Char* p = pBegin; p != pEnd; ++p) {
        const auto u = static_cast<unsigned>(*p);
        if (u < 0x20 || u > 0x7e) {
            baOut.resize(iStart);
            return false;
        }
        if (u == '"' || u == '\\') *pOut++ = '\\';
        *pOut++ = static_cast<char>(u);
    }
    *pOut++ = '"';
    baOut.resize(static_cast<int>(pOut - baOut.constData()));
    return true;
}

// Qt's own text of one value.
void appendQtValue(QByteArray& baOut, const QJsonValue& value) {
    const QByteArray baArray = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    baOut.append(baArray.constData() + 1, baArray.size() - 2);  // without "[" and "]"
}
}  // namespace

CompactJson& CompactJson::insert(QLatin1String key, const QString& strValue) {
    const int iOffset = m_baValues.size();
    const auto* pBegin = reinterpret_cast<const ushort*>(strValue.constData());
    if (!appendPlainText(m_baValues, pBegin, pBegin + strValue.size())) appendQtValue(m_baValues, strValue);
    return take(key, iOffset);
}

CompactJson& CompactJson::insert(QLatin1String key, QLatin1String value) {
    const int iOffset = m_baValues.size();
    const auto* pBegin = reinterpret_cast<const uchar*>(value.data());
    if (!appendPlainText(m_baValues, pBegin, pBegin + value.size())) appendQtValue(m_baValues, QJsonValue(value));
    return take(key, iOffset);
}

CompactJson& CompactJson::insert(QLatin1String key, int iValue) {
    const int iOffset = m_baValues.size();
    m_baValues += QByteArray::number(iValue);
    return take(key, iOffset);
}

CompactJson& CompactJson::insert(QLatin1String key, bool bValue) {
    const int iOffset = m_baValues.size();
    m_baValues += bValue ? "true" : "false";
    return take(key, iOffset);
}

CompactJson& CompactJson::insert(QLatin1String key, const QJsonValue& value) {
    if (value.isUndefined()) {
        // As QJsonObject::insert: the key goes.
        const auto it = std::find_if(m_members.begin(), m_members.end(),
                                     [key](const Member& member) { return member.key == key; });
        if (it != m_members.end()) m_members.erase(it);
        return *this;
    }
    if (value.isString()) return insert(key, value.toString());
    const int iOffset = m_baValues.size();
    appendQtValue(m_baValues, value);
    return take(key, iOffset);
}

CompactJson& CompactJson::take(QLatin1String key, int iOffset) {
    const Member member{key, iOffset, m_baValues.size() - iOffset};
    for (Member& existing : m_members) {
        if (existing.key == key) {
            existing = member;
            return *this;
        }
    }
    m_members.append(member);
    return *this;
}

QByteArray CompactJson::toJson() const {
    // QJsonObject's order: by key, as UTF-16 text (byte order for ASCII).
    QVarLengthArray<const Member*, 8> sorted;
    int iSize = 2 + m_baValues.size();
    for (const Member& member : m_members) {
        sorted.append(&member);
        iSize += member.key.size() + 4;
    }
    std::sort(sorted.begin(), sorted.end(), [](const Member* a, const Member* b) { return a->key < b->key; });
    QByteArray baOut;
    baOut.reserve(iSize);
    baOut += '{';
    for (const Member* pMember : sorted) {
        if (baOut.size() > 1) baOut += ',';
        const auto* pKey = reinterpret_cast<const uchar*>(pMember->key.data());
        if (!appendPlainText(baOut, pKey, pKey + pMember->key.size())) appendQtValue(baOut, QJsonValue(pMember->key));
        baOut += ':';
        baOut.append(m_baValues.constData() + pMember->iOffset, pMember->iLength);
    }
    baOut += '}';
    return baOut;
}
