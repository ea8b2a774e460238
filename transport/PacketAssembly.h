// The process-wide table in which the pieces of query-form requests are
// collected per "sequence", shared by every connection thread.
#ifndef TRANSPORT_PACKETASSEMBLY_H
#define TRANSPORT_PACKETASSEMBLY_H

#include <QString>

namespace PacketAssembly {

// Stores a piece that is not the last. Returns false when the piece was
// refused (the sequence or the table would exceed its bounds).
bool appendPiece(const QString& strSequence, const QString& strData);

// Takes the pieces stored under the sequence, appends the last piece, removes
// the entry and returns the whole packet. bOk is false when the packet was
// refused (over its bound); the packet is then empty.
QString takePacket(const QString& strSequence, const QString& strLastPiece, bool* bOk = nullptr);

}  // namespace PacketAssembly

#endif  // TRANSPORT_PACKETASSEMBLY_H
