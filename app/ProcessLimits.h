#ifndef APP_PROCESSLIMITS_H
#define APP_PROCESSLIMITS_H

#include "Admission.h"

// Raises the soft limit of open descriptors to the hard limit, so that the
// connection cap, not the desktop's default of 1,024, bounds the service.
// Returns the limit now in force (0 where there is none to raise).
long raiseDescriptorLimit();

// The soft limit of open descriptors in force: -1 when unlimited, 0 where
// there is no such limit.
long descriptorLimit();

// Descriptors kept back from client connections for everything else the
// service opens: the video library's play windows and transfers at their
// most (Admission.h: what each holds, measured, and how many may run), and
// the service's own: the display connection, the event loop's epoll and
// wake-ups, the listening sockets, the lock, logs, name lookups, audio.
constexpr int kDescriptorMargin = 64;
constexpr int kDescriptorReserve =
    vc::kPlayDescriptors * vc::kMaxPlayWindows + vc::kTransferDescriptors * vc::kMaxTransfers + kDescriptorMargin;

// What is kept back under that limit: the reserve, or half of a limit below
// twice the reserve; 0 without a limit.
long descriptorReserve(long iDescriptorLimit);

// The connection cap: "MaxConnections", but never more than the descriptor
// limit less descriptorReserve() (the video library refuses plays and
// transfers that would pass the limit). iDescriptorLimit -1 or 0: no limit.
// At least 1.
int connectionCap(int iMaxConnections, long iDescriptorLimit);

// Keeps the allocator to a few arenas, so that memory freed after a burst
// goes back to the system instead of staying spread over per-thread arenas.
// Free memory at the top of the heap (up to 16 MiB) is not handed back on
// every free but by the server's periodic sweep (malloc_trim): every socket
// with input takes a fresh 16 KiB read chunk from Qt, and a turn of the
// loop over many clients would otherwise shrink the heap and grow it again,
// at a page fault per page, for every round of requests.
void chooseMemoryPolicy();

#endif  // APP_PROCESSLIMITS_H
