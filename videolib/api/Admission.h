// Admission of new work by the process's descriptors: a stream or a transfer
// that would bring the process near its limit (RLIMIT_NOFILE) is refused
// with OutOfDescriptors before it opens anything, instead of failing deep in
// GStreamer or Qt (which abort when they cannot make their wake-up pipes).
//
// The service keeps kMaxPlayWindows streams and kMaxTransfers transfers'
// worth of descriptors back from its client connections (ProcessLimits.h).
//
// Any thread (reads /proc/self/fd).
#ifndef VIDEO_CONTROL_ADMISSION_H
#define VIDEO_CONTROL_ADMISSION_H

#include <QJsonObject>
#include <QString>

namespace vc {

// What one play window's stream holds at most. Measured on an RTSP camera:
// 16 with H.264 video, 26 with video and sound (sockets, GStreamer's bus
// and wake-up pipes); a file holds fewer.
constexpr int kPlayDescriptors = 32;
// What one transfer holds at most: its socket, its file, a name lookup.
constexpr int kTransferDescriptors = 4;
// Kept free beyond that for the rest of the process.
constexpr int kSpareDescriptors = 16;
// Play windows of the process that play at once, at most (all widgets).
constexpr int kMaxPlayWindows = 64;
// Transfers kept at once, at most.
constexpr int kMaxTransfers = 64;
// The pre-record buffer of one live stream holds at most this much coded
// video (PreRecordBuffer.h): 5 s of a 4 Mbit/s stream with its key frames
// 2 s apart (up to 7 s are kept then). With every play window playing the process holds at most
// kMaxPlayWindows times this (256 MiB); a stream with more bytes per second
// gets fewer seconds before a recording.
constexpr qint64 kPreRecordBytes = 4ll * 1024 * 1024;

// The descriptors the process holds now (-1 when unknown), and its soft
// limit (-1: none).
int openDescriptors();
int descriptorLimit();

// Whether iNeeded more descriptors fit under the limit with the spare kept;
// false with *pError (OutOfDescriptors, naming strWhat) when not.
bool admitDescriptors(int iNeeded, const QString& strWhat, QJsonObject* pError);

}  // namespace vc

#endif  // VIDEO_CONTROL_ADMISSION_H
