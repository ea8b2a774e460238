#include "ZBLog.h"
#include "ZBLog_test.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::atomic<ZBLogTestSink> g_pfnSink{nullptr};

std::string formatMessage(const char* szFormat, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int iSize = std::vsnprintf(nullptr, 0, szFormat, copy);
    va_end(copy);
    if (iSize <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(iSize) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), szFormat, args);
    return std::string(buffer.data(), static_cast<size_t>(iSize));
}

std::string timeStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long millis = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &seconds);
#else
    gmtime_r(&seconds, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &parts);
    char full[48];
    std::snprintf(full, sizeof(full), "%s.%03ld", text, millis);
    return full;
}

}  // namespace

extern "C" void ZBLog_Print(int iLevel, const char* szModule, const char* szFormat, ...) {
    if (!szFormat) return;
    va_list args;
    va_start(args, szFormat);
    const std::string strMessage = formatMessage(szFormat, args);
    va_end(args);
    const char* szTag = szModule ? szModule : "";

    // One write per line so that lines of different threads do not mix.
    const std::string strLine = timeStamp() + " [" + std::to_string(iLevel) + "] " + szTag + ": " + strMessage + "\n";
    std::fwrite(strLine.data(), 1, strLine.size(), stderr);
    std::fflush(stderr);

    if (const ZBLogTestSink pfnSink = g_pfnSink.load(std::memory_order_acquire))
        pfnSink(iLevel, szTag, strMessage.c_str());
}

void ZBLogTest_SetSink(ZBLogTestSink pfnSink) {
    g_pfnSink.store(pfnSink, std::memory_order_release);
}
