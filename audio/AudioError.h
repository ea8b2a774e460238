// The answer codes of the audio module ("errorModule" 9), with what raises
// each. The README's audio error table is checked against this one.
#ifndef AUDIO_AUDIOERROR_H
#define AUDIO_AUDIOERROR_H

#include <cstdint>

namespace audio {

#define AUDIO_ERROR_TABLE(X)                                                                \
    X(Success, 0, "success, also for a stop with a foreign talk id and every status query") \
    X(BadRequest, 1,                                                                        \
      "a key missing or of the wrong type; a mode change for another handle; "              \
      "network library errors 302, 303, 306, 307 and 315")                                  \
    X(TalkError, 8000,                                                                      \
      "a talk runs already; the device answer is not JSON or lacks a key; "                 \
      "a device error number not listed below")                                             \
    X(LocalConfigError, 8001, "network library error 9")                                    \
    X(NetworkError, 8004, "network library errors 16 to 21")                                \
    X(AddressError, 8005, "the cloud address was refused; any other network library error") \
    X(InitError, 8006, "the access keys were refused; network library error 8")             \
    X(ChangeModelError, 8008, "the device refused the mode change of the running talk")     \
    X(Device40008085, 8010, "device error 0x40008085")                                      \
    X(Device40008086, 8011, "device error 0x40008086")                                      \
    X(Device30008003, 8012, "device error 0x30008003")                                      \
    X(Device30008004, 8013, "device error 0x30008004")                                      \
    X(Device40008087, 8014, "device error 0x40008087")                                      \
    X(Device30008005, 8015, "device error 0x30008005")                                      \
    X(Device30008006, 8016, "device error 0x30008006")                                      \
    X(Busy, 8017,                                                                           \
      "busy: another command of this page runs, the queue is full or another "              \
      "page's command holds the talk; try again")

enum class Error {
#define AUDIO_ERROR_ENUM(name, code, text) name = code,
    AUDIO_ERROR_TABLE(AUDIO_ERROR_ENUM)
#undef AUDIO_ERROR_ENUM
};

// The device's own error numbers that have a code of their own; every other
// number but 1 (success) is TalkError.
#define AUDIO_DEVICE_ERROR_TABLE(X)                                                              \
    X(0x40008085u, Device40008085)                                                               \
    X(0x40008086u, Device40008086)                                                               \
    X(0x40008087u, Device40008087) X(0x30008003u, Device30008003) X(0x30008004u, Device30008004) \
        X(0x30008005u, Device30008005) X(0x30008006u, Device30008006)

constexpr int code(Error eError) {
    return static_cast<int>(eError);
}

}  // namespace audio

#endif  // AUDIO_AUDIOERROR_H
