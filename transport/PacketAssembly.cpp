#include "PacketAssembly.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QHash>

#include <functional>

namespace PacketAssembly {

namespace {

constexpr qint64 kSweepIntervalMs = 1000;

struct Sequence {
    QString strData;
    qint64 iFirstPieceMs = 0;
    // Set once a piece was refused: the request can no longer be whole, so
    // its remaining pieces are refused as well until it is taken or expires.
    bool bRefused = false;
};

// Used by the connections' workers, all on the server's thread.
struct Table {
    QHash<QString, Sequence> sequences;
    qint64 iHeldChars = 0;
    std::function<qint64()> clock;
    QElapsedTimer monotonic;
    qint64 iLastSweepMs = 0;

    Table() { monotonic.start(); }

    qint64 nowMs() const { return clock ? clock() : monotonic.elapsed(); }

    static qint64 charsOf(const QString& strKey, const Sequence& sequence) {
        return strKey.size() + sequence.strData.size();
    }

    void remove(QHash<QString, Sequence>::iterator it) {
        iHeldChars -= charsOf(it.key(), it.value());
        sequences.erase(it);
    }

    // Walks the table at most once a second, so a full table does not make
    // every piece pay for a walk.
    void dropExpired() {
        const qint64 iNow = nowMs();
        if (iNow - iLastSweepMs < kSweepIntervalMs && iNow >= iLastSweepMs) return;
        iLastSweepMs = iNow;
        for (auto it = sequences.begin(); it != sequences.end();) {
            if (iNow - it.value().iFirstPieceMs >= kSequenceLifetimeMs) {
                qDebug().noquote() << "image packet sequence" << it.key() << "dropped: not completed in time";
                iHeldChars -= charsOf(it.key(), it.value());
                it = sequences.erase(it);
            } else {
                ++it;
            }
        }
    }

    // The entry under the key, unless it has expired (then it is removed).
    QHash<QString, Sequence>::iterator findLive(const QString& strKey) {
        dropExpired();
        auto it = sequences.find(strKey);
        if (it != sequences.end() && nowMs() - it.value().iFirstPieceMs >= kSequenceLifetimeMs) {
            qDebug().noquote() << "image packet sequence" << strKey << "dropped: not completed in time";
            remove(it);
            it = sequences.end();
        }
        return it;
    }

    // Marks the sequence refused and releases its pieces.
    void refuse(QHash<QString, Sequence>::iterator it) {
        iHeldChars -= it.value().strData.size();
        it.value().strData.clear();
        it.value().strData.squeeze();
        it.value().bRefused = true;
    }
};

Table& table() {
    static Table s_table;
    return s_table;
}

}  // namespace

bool appendPiece(const QString& strSequence, const QString& strData) {
    Table& t = table();
    auto it = t.findLive(strSequence);
    if (it == t.sequences.end()) {
        // A new sequence costs its key; refuse it outright when even that
        // does not fit.
        if (t.iHeldChars + strSequence.size() > kMaxTableChars) {
            qDebug().noquote() << "image packet sequence" << strSequence << "refused: table full";
            return false;
        }
        Sequence sequence;
        sequence.iFirstPieceMs = t.nowMs();
        it = t.sequences.insert(strSequence, sequence);
        t.iHeldChars += strSequence.size();
    }

    Sequence& sequence = it.value();
    if (sequence.bRefused) return false;
    const qint64 iNewSize = static_cast<qint64>(sequence.strData.size()) + strData.size();
    if (iNewSize > kMaxSequenceChars || t.iHeldChars + strData.size() > kMaxTableChars) {
        qDebug().noquote() << "image packet sequence" << strSequence
                           << "refused:" << (iNewSize > kMaxSequenceChars ? "request too long" : "table full");
        t.refuse(it);
        return false;
    }
    sequence.strData.append(strData);
    t.iHeldChars += strData.size();
    return true;
}

QString takePacket(const QString& strSequence, const QString& strLastPiece, bool* bOk) {
    Table& t = table();
    QString strPacket;
    bool bAccepted = true;
    auto it = t.findLive(strSequence);
    if (it != t.sequences.end()) {
        bAccepted = !it.value().bRefused &&
                    static_cast<qint64>(it.value().strData.size()) + strLastPiece.size() <= kMaxSequenceChars;
        if (bAccepted) strPacket = it.value().strData;
        t.remove(it);
    } else {
        bAccepted = strLastPiece.size() <= kMaxSequenceChars;
    }

    if (bOk != nullptr) *bOk = bAccepted;
    if (!bAccepted) {
        qDebug().noquote() << "image packet sequence" << strSequence << "refused: request too long";
        return QString();
    }
    strPacket.append(strLastPiece);
    return strPacket;
}

void sweepExpired() {
    Table& t = table();
    t.dropExpired();
}

qint64 heldChars() {
    Table& t = table();
    return t.iHeldChars;
}

int sequenceCount() {
    Table& t = table();
    return t.sequences.size();
}

void setClockForTesting(std::function<qint64()> clock) {
    Table& t = table();
    t.clock = std::move(clock);
}

void clearForTesting() {
    Table& t = table();
    t.sequences.clear();
    t.iHeldChars = 0;
    t.iLastSweepMs = t.nowMs();
}

}  // namespace PacketAssembly
