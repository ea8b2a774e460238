// Simulated process backend for tests: every answer is set by the test and
// every elevated launch is recorded.
#ifndef PLATFORM_SIMULATEDPROCESSPLATFORM_H
#define PLATFORM_SIMULATEDPROCESSPLATFORM_H

#include "ProcessPlatform.h"

#include <string>
#include <vector>

namespace platform {

class SimulatedProcessPlatform final : public ProcessPlatform {
public:
    bool m_bAdmin = false;
    bool m_bPathAvailable = true;
    std::string m_strModulePath = "/opt/localservice/localservice";
    unsigned long m_ulLaunchError = 0;       // 0: the user accepts the prompt
    std::vector<std::string> m_vecLaunches;  // paths launched elevated

    bool isUserAnAdmin() override;
    bool moduleFileName(std::string& strPath) override;
    unsigned long shellExecuteRunAs(const std::string& strPath) override;
};

}  // namespace platform

#endif  // PLATFORM_SIMULATEDPROCESSPLATFORM_H
