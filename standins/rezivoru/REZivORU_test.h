// Test hooks of the REZivORU stand-in. Not part of the library's interface:
// only tests include this.
#ifndef REZIVORU_TEST_H
#define REZIVORU_TEST_H

#include "REZivORU.h"

#include <string>

// Time without an answer after which a request or a talk opening fails with
// error 17 (default 5000 ms).
void ZBNetTest_SetTimeoutMs(int iTimeoutMs);

// Number of ZBNet_Init / ZBNet_Fini / ZBNet_StopVoiceTalk calls since the
// last reset.
int ZBNetTest_InitCount();
int ZBNetTest_FiniCount();
int ZBNetTest_StopVoiceTalkCount();

// Whether ZBNet_Init succeeded since the last ZBNet_Fini.
bool ZBNetTest_IsInitialized();

// Address text of the last ZBNet_SetLocalConfig call, accepted or not.
std::string ZBNetTest_LastConfigAddress();

// Number of talks open right now.
int ZBNetTest_OpenTalkCount();

// Finalises the library and sets the counters and the time-out back.
void ZBNetTest_Reset();

#endif  // REZIVORU_TEST_H
