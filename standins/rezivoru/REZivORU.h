// REZivORU: the network library that reaches devices through a cloud address
// with an access key pair: device requests and two-way voice talks.
//
// All calls are synchronous. ZBNet_GetLastError reports the last error of
// the calling thread. A voice talk is watched by a thread of the library,
// which calls the talk's callback when the talk ends from the other side.
#ifndef REZIVORU_H
#define REZIVORU_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(REZIVORU_DLL)
#define ZBNET_API __declspec(dllimport)
#else
#define ZBNET_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Error numbers of ZBNet_GetLastError.
enum {
    ZBNET_ERR_NONE = 0,
    ZBNET_ERR_PARAMETER = 2,       // null pointer, unknown type or unknown handle
    ZBNET_ERR_INIT = 8,            // not initialised: ZBNet_Init refused its keys or never ran
    ZBNET_ERR_LOCAL_CONFIG = 9,    // address not "host:port", or none set
    ZBNET_ERR_CONNECT = 16,        // the device refused the connection or cannot be reached
    ZBNET_ERR_TIMEOUT = 17,        // no answer in time
    ZBNET_ERR_READ = 18,           // the connection broke while reading
    ZBNET_ERR_PROTOCOL = 19,       // an answer that cannot be understood
    ZBNET_ERR_DEVICE_STATUS = 302  // the device answered with a status other than 200
};

// Message types given to the voice-talk callback.
enum {
    ZBNET_TALK_MSG_CLOSED = 17,     // the other side closed the talk
    ZBNET_TALK_MSG_READ_ERROR = 18  // reading from the talk failed
};

// Called on a library thread: first the talk handle, then the message type,
// then the user pointer given to ZBNet_StartVoiceTalk.
typedef void (*ZBNetVoiceTalkCallback)(int32_t hTalk, int32_t iMsgType, void* pUser);

// Talk parameters. On a 32-bit build: bytes 0-3 the kind of talk (1, two-way
// audio), bytes 4-7 the callback, bytes 8-263 reserved (zero). A 64-bit build
// keeps the size; the wider callback eats into the reserved bytes.
typedef struct ZBNetVoiceTalkParam {
    int32_t iTalkType;
    ZBNetVoiceTalkCallback pfnCallback;
    unsigned char byReserved[256 - 2 * (sizeof(void*) - 4)];
} ZBNetVoiceTalkParam;

// Local configuration of type 0: the cloud address text "host:port",
// zero-terminated, at the start of the first half; the second half is
// reserved (zero).
typedef struct ZBNetLocalConfig {
    char szAddress[1024];
    unsigned char byReserved[1024];
} ZBNetLocalConfig;

#ifdef __cplusplus
static_assert(sizeof(ZBNetVoiceTalkParam) == 264, "talk parameter record keeps its 264 bytes");
static_assert(sizeof(ZBNetLocalConfig) == 2048, "local configuration record keeps its 2048 bytes");
#endif

// Readies the library with an access key and a secret key; both must be
// non-empty (else error 8). A second call replaces the keys. Until a call
// succeeds, device requests and talks fail with error 8.
ZBNET_API bool ZBNet_Init(const char* szAccessKey, const char* szSecretKey);

// Forgets the keys and the address and ends every open talk without calling
// its callback. Harmless at any time, also when never initialised.
ZBNET_API void ZBNet_Fini(void);

// Type 0: takes the cloud address from the record. Fails with error 9 when
// the text is not "host:port" (port 1 to 65535), error 2 for another type.
ZBNET_API bool ZBNet_SetLocalConfig(int32_t iType, const ZBNetLocalConfig* pConfig);

// Sends one device request: METHOD http://host:port + szPath with szBody and
// the headers X-Device-Serial, X-Access-Key (bytes outside printable ASCII,
// blanks and "%" percent-encoded) and X-Signature (lowercase hex of
// HMAC-SHA-256 keyed with the secret key over METHOD, a blank, the path, a
// line feed and the body). True when the device answered
// with status 200: *ppBuf then holds the answer body, zero-terminated, to be
// released with ZBNet_FreeBuf, and *piLen its length. Otherwise false with
// the device's X-Library-Error number, or 302 for another status, 16 when the
// connection was refused, 17 when no answer came in time.
ZBNET_API bool ZBNet_CmdWI(const char* szDeviceSerial, const char* szPath, const char* szMethod, const char* szBody,
                           char** ppBuf, int32_t* piLen);

// Releases a buffer of ZBNet_CmdWI; null is ignored.
ZBNET_API void ZBNet_FreeBuf(char* pBuf);

// Opens a voice talk with the device (the line "TALK <serial> <access key>
// <signature>", the signature as above over "TALK <serial>"). Returns a new
// handle (0, 1, 2, ...) or -1: the device's refusal number, 16 when refused,
// 17 when no answer came in time.
ZBNET_API int32_t ZBNet_StartVoiceTalk(const char* szDeviceSerial, const ZBNetVoiceTalkParam* pParam, void* pUser);

// Closes a talk; its callback is not called. False for an unknown handle.
ZBNET_API bool ZBNet_StopVoiceTalk(int32_t hTalk);

// Last error number of the calling thread.
ZBNET_API int32_t ZBNet_GetLastError(void);

#ifdef __cplusplus
}
#endif

#endif  // REZIVORU_H
