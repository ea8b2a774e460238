#include "CompactJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <charconv>

namespace {
// Writes a text of printable ASCII as a JSON string, with Qt's escapes for
// '"' and '\'; false (and nothing written) for any other text.
template <typename Char>
bool appendPlainText(CompactJson::Buffer& out, const Char* pBegin, const Char* pEnd) {
    const int iStart = out.size();
    out.resize(iStart + 2 + 2 * static_cast<int>(pEnd - pBegin));
    char* pOut = out.data() + iStart;
    *pOut++ = '"';
    for (const Char* p = pBegin; p != pEnd; ++p) {
        const auto u = static_cast<unsigned>(*p);
        if (u - 0x20u > 0x7eu - 0x20u) {
            out.resize(iStart);
            return false;
        }
        if (u == '"' || u == '\\') *pOut++ = '\\';
        *pOut++ = static_cast<char>(u);
    }
    *pOut++ = '"';
    out.resize(static_cast<int>(pOut - out.constData()));
    return true;
}

// Qt's own text of one value.
void appendQtValue(CompactJson::Buffer& out, const QJsonValue& value) {
    const QByteArray baArray = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    out.append(baArray.constData() + 1, baArray.size() - 2);  // without "[" and "]"
}
}  // namespace

CompactJson& CompactJson::insert(QLatin1String key, const QString& strValue) {
    const int iOffset = m_values.size();
    const auto* pBegin = reinterpret_cast<const ushort*>(strValue.constData());
    if (!appendPlainText(m_values, pBegin, pBegin + strValue.size())) appendQtValue(m_values, strValue);
    return take(key, iOffset);
}

CompactJson& CompactJson::insert(QLatin1String key, QLatin1String value) {
    const int iOffset = m_values.size();
    const auto* pBegin = reinterpret_cast<const uchar*>(value.data());
    if (!appendPlainText(m_values, pBegin, pBegin + value.size())) appendQtValue(m_values, QJsonValue(value));
    return take(key, iOffset);
}

CompactJson& CompactJson::insert(QLatin1String key, int iValue) {
    const int iOffset = m_values.size();
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, iValue);
    m_values.append(digits, static_cast<int>(result.ptr - digits));
    return take(key, iOffset);
}

CompactJson& CompactJson::insert(QLatin1String key, bool bValue) {
    const int iOffset = m_values.size();
    const QLatin1String text = bValue ? QLatin1String("true") : QLatin1String("false");
    m_values.append(text.data(), text.size());
    return take(key, iOffset);
}

CompactJson& CompactJson::insert(QLatin1String key, const QJsonValue& value) {
    if (value.isUndefined()) {
        // As QJsonObject::insert: the key goes.
        const auto it =
            std::find_if(m_members.begin(), m_members.end(), [key](const Member& member) { return member.key == key; });
        if (it != m_members.end()) m_members.erase(it);
        return *this;
    }
    if (value.isString()) return insert(key, value.toString());
    const int iOffset = m_values.size();
    appendQtValue(m_values, value);
    return take(key, iOffset);
}

CompactJson& CompactJson::take(QLatin1String key, int iOffset) {
    const Member member{key, iOffset, m_values.size() - iOffset};
    for (Member& existing : m_members) {
        if (existing.key == key) {
            existing = member;
            return *this;
        }
    }
    m_members.append(member);
    return *this;
}

void CompactJson::write(Buffer& out) const {
    // QJsonObject's order: by key, as UTF-16 text (byte order for ASCII).
    QVarLengthArray<const Member*, 8> sorted;
    for (const Member& member : m_members) sorted.append(&member);
    std::sort(sorted.begin(), sorted.end(), [](const Member* a, const Member* b) { return a->key < b->key; });
    out.append('{');
    for (const Member* pMember : sorted) {
        if (out.size() > 1) out.append(',');
        const auto* pKey = reinterpret_cast<const uchar*>(pMember->key.data());
        if (!appendPlainText(out, pKey, pKey + pMember->key.size())) appendQtValue(out, QJsonValue(pMember->key));
        out.append(':');
        out.append(m_values.constData() + pMember->iOffset, pMember->iLength);
    }
    out.append('}');
}

QByteArray CompactJson::toJson() const {
    Buffer out;
    write(out);
    return QByteArray(out.constData(), out.size());
}

QString CompactJson::toString() const {
    Buffer out;
    write(out);
    return QString::fromUtf8(out.constData(), out.size());
}
