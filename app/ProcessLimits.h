#ifndef APP_PROCESSLIMITS_H
#define APP_PROCESSLIMITS_H

// Raises the soft limit of open descriptors to the hard limit, so that the
// connection cap, not the desktop's default of 1,024, bounds the service.
// Returns the limit now in force (0 where there is none to raise).
long raiseDescriptorLimit();

// The soft limit of open descriptors in force: -1 when unlimited, 0 where
// there is no such limit.
long descriptorLimit();

// Descriptors kept back from client connections for everything else the
// service opens. A play window playing an RTSP stream with video and audio
// held 28 (the pipeline's sockets, socketpairs and eventfds): measured as the
// growth of a process's open descriptors from 1 to 4 such play windows
// (36 to 120; video alone: 18 per window, 28 to 170 from 1 to 9).
constexpr int kDescriptorsPerPlayWindow = 28;
// Play windows the video library runs at once, at most.
constexpr int kReservedPlayWindows = 64;
// Transfers ("video.downloadFile" and uploads) kept at once by the video
// library, each with its file and its network socket.
constexpr int kReservedTransfers = 64;
constexpr int kDescriptorsPerTransfer = 2;
// The service's own: the display connection, the event loop's epoll and
// wake-ups, the listening sockets, the lock, logs, name lookups, audio.
constexpr int kDescriptorMargin = 64;
constexpr int kDescriptorReserve = kDescriptorsPerPlayWindow * kReservedPlayWindows +
                                   kReservedTransfers * kDescriptorsPerTransfer + kDescriptorMargin;

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
void chooseMemoryPolicy();

#endif  // APP_PROCESSLIMITS_H
