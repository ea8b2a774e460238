// Test hooks of the ZBLog stand-in. Not part of the library's interface.
#ifndef ZBLOG_TEST_H
#define ZBLOG_TEST_H

#include "ZBLog.h"

// Receives every formatted message (without time, level or tag) in addition
// to the line on standard error. Called on the logging thread.
typedef void (*ZBLogTestSink)(int iLevel, const char* szModule, const char* szMessage);

// Installs the sink; null removes it.
void ZBLogTest_SetSink(ZBLogTestSink pfnSink);

#endif  // ZBLOG_TEST_H
