// The process-wide table in which the pieces of query-form requests are
// collected per "sequence". Used on the web server's thread only (where
// every connection's worker lives).
#ifndef TRANSPORT_PACKETASSEMBLY_H
#define TRANSPORT_PACKETASSEMBLY_H

#include <QString>

#include <functional>

namespace PacketAssembly {

// Stores a piece that is not the last. Returns false when the piece was
// refused (the sequence or the table would exceed its bounds).
bool appendPiece(const QString& strSequence, const QString& strData);

// Takes the pieces stored under the sequence, appends the last piece, removes
// the entry and returns the whole packet. bOk is false when the packet was
// refused (over its bound); the packet is then empty.
QString takePacket(const QString& strSequence, const QString& strLastPiece, bool* bOk = nullptr);

// Bounds of the table, in characters (the pieces are Base64 text).
// A packet is the Base64 of a decoded text shorter than 2 MiB.
constexpr int kMaxSequenceChars = 4 * ((2 * 1024 * 1024 - 1 + 2) / 3);
constexpr qint64 kMaxTableChars = 64 * 1024 * 1024;
// Sequences not completed this long after their first piece are dropped.
constexpr qint64 kSequenceLifetimeMs = 60 * 1000;

// Drops the sequences that expired (run by a timer, so that a table nobody
// touches any more is emptied too).
void sweepExpired();

// Characters held by the whole table (keys included).
qint64 heldChars();
// Number of sequences held (refused ones included until they expire).
int sequenceCount();

// For tests: replaces the monotonic millisecond clock (an empty function puts
// the real one back) and empties the table.
void setClockForTesting(std::function<qint64()> clock);
void clearForTesting();

}  // namespace PacketAssembly

#endif  // TRANSPORT_PACKETASSEMBLY_H
