// Process-level native calls: administrator rights, the executable's own
// path and the elevated relaunch.
#ifndef PLATFORM_PROCESSPLATFORM_H
#define PLATFORM_PROCESSPLATFORM_H

#include <string>

namespace platform {

// Error codes of a failed elevated launch, as the shell reports them.
enum : unsigned long {
    kErrorFileNotFound = 2,
    kErrorCancelled = 1223,  // the user refused the elevation prompt
};

class ProcessPlatform {
public:
    virtual ~ProcessPlatform() = default;

    // Whether the process runs with administrator rights.
    virtual bool isUserAnAdmin() = 0;

    // Full path (UTF-8) of the running executable; false when the lookup fails.
    virtual bool moduleFileName(std::string& strPath) = 0;

    // Launches the executable at strPath elevated ("runas"), with no
    // parameters, no working directory and a normal window. Returns 0 on
    // success, else the error code of the failure.
    virtual unsigned long shellExecuteRunAs(const std::string& strPath) = 0;
};

// The backend of the platform the service runs on.
ProcessPlatform& systemProcessPlatform();

}  // namespace platform

#endif  // PLATFORM_PROCESSPLATFORM_H
