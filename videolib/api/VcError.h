// The error codes of the video library. Every failing command answers
// {"errorCode": <code>, "errorModule": "video_control", "errorMessage": text};
// stream failures that happen later arrive as stream events (type 3) with the
// same keys.
#ifndef VIDEO_CONTROL_VCERROR_H
#define VIDEO_CONTROL_VCERROR_H

#include <QJsonObject>
#include <QString>

namespace vc {

#define VC_ERROR_TABLE(X)                                                                           \
    X(BadRequest, 3001, "a request key is missing, has the wrong type or is out of range")          \
    X(BadUrl, 3002, "the url is missing, malformed or has an unsupported scheme")                   \
    X(NoSuchWindow, 3003, "no play window with that index")                                         \
    X(NothingPlaying, 3004, "the play window plays nothing (or has no picture yet)")                \
    X(NotSeekable, 3005, "the source cannot pause, seek, change rate, step or play backwards")      \
    X(Unreachable, 3006, "the source cannot be reached or does not exist")                          \
    X(Unauthorized, 3007, "the source refused the credentials")                                     \
    X(UnsupportedCodec, 3008, "no decoder or demuxer for the stream")                               \
    X(StreamError, 3009, "the stream failed while playing")                                         \
    X(DiskFull, 3010, "not enough free space to write the file")                                    \
    X(FileError, 3011, "the file or folder cannot be written")                                      \
    X(NotRecording, 3012, "the play window is not recording")                                       \
    X(AlreadyRecording, 3013, "the play window records already")                                    \
    X(NotInitialized, 3014, "VC_Initialize was not called for this widget")                         \
    X(NotSupported, 3015, "this library does not support the function")                             \
    X(NoSuchShape, 3016, "no shape with that id")                                                   \
    X(TooManyShapes, 3017, "the play window holds the most shapes of that kind it may")             \
    X(NoSecretKey, 3018, "no secret key was set")                                                   \
    X(NotAuthentic, 3019, "the cipher text was changed or made with another key")                   \
    X(NoSuchTransfer, 3020, "no transfer with that id")                                             \
    X(TransferFailed, 3021, "the transfer failed")                                                  \
    X(TooManyStreams, 3022, "the service plays the most streams it may at once")                    \
    X(OutOfDescriptors, 3023, "the service is near its limit of open files; nothing new opens now") \
    X(PathRefused, 3024, "the path is not inside the media folders, or is not allowed")             \
    X(LocalAddress, 3025, "the url leads to this machine; transfers go to other hosts only")        \
    X(TimedOut, 3026, "the source stopped sending and did not answer in time")                      \
    X(Busy, 3027, "a file dialog is open already; one at a time")                                   \
    X(NotInPageMode, 3030, "not supported in page mode: the window has no native picture")          \
    X(StreamLimit, 3031, "too many in-page streams: stop one first")                                \
    X(StreamNotOpened, 3032, "the page did not open the stream's media connection in time")

enum class Error {
    None = 0,
#define VC_ERROR_ENUM(name, code, text) name = code,
    VC_ERROR_TABLE(VC_ERROR_ENUM)
#undef VC_ERROR_ENUM
};

// The library's own name in results and events.
inline QString errorModule() {
    return QStringLiteral("video_control");
}

// {"errorCode", "errorModule", "errorMessage"}; strDetail, when given,
// replaces the table's text.
QJsonObject errorResult(Error eError, const QString& strDetail = QString());

}  // namespace vc

#endif  // VIDEO_CONTROL_VCERROR_H
