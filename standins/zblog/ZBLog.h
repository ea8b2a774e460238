// ZBLog: the log library. One entry point writes one line per call.
#ifndef ZBLOG_H
#define ZBLOG_H

#if defined(_WIN32) && defined(ZBLOG_DLL)
#define ZBLOG_API __declspec(dllimport)
#else
#define ZBLOG_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Levels used by callers: 2 progress, 5 error. Other values are written as
// they come.
enum { ZBLOG_LEVEL_PROGRESS = 2, ZBLOG_LEVEL_ERROR = 5 };

// Formats the message printf-style and writes one line with the time, the
// level and the module tag to standard error. Safe from any thread.
ZBLOG_API void ZBLog_Print(int iLevel, const char* szModule, const char* szFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif  // ZBLOG_H
