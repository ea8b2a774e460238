// POSIX backend. Nothing the service does on Linux needs administrator
// rights, so the process always counts as having them.
#include "ProcessPlatform.h"

#include <climits>
#include <cerrno>
#include <unistd.h>

namespace platform {
namespace {

class PosixProcessPlatform final : public ProcessPlatform {
public:
    bool isUserAnAdmin() override { return true; }

    bool moduleFileName(std::string& strPath) override {
        char szPath[PATH_MAX];
        const ssize_t iLength = ::readlink("/proc/self/exe", szPath, sizeof szPath - 1);
        if (iLength <= 0) return false;
        strPath.assign(szPath, static_cast<size_t>(iLength));
        return true;
    }

    unsigned long shellExecuteRunAs(const std::string&) override {
        // There is no elevation prompt here; never reached since
        // isUserAnAdmin() is always true.
        return ENOSYS;
    }
};

}  // namespace

ProcessPlatform& systemProcessPlatform() {
    static PosixProcessPlatform s_platform;
    return s_platform;
}

}  // namespace platform
