#include "SimulatedProcessPlatform.h"

namespace platform {

bool SimulatedProcessPlatform::isUserAnAdmin() {
    return m_bAdmin;
}

bool SimulatedProcessPlatform::moduleFileName(std::string& strPath) {
    if (!m_bPathAvailable) return false;
    strPath = m_strModulePath;
    return true;
}

unsigned long SimulatedProcessPlatform::shellExecuteRunAs(const std::string& strPath) {
    m_vecLaunches.push_back(strPath);
    return m_ulLaunchError;
}

}  // namespace platform
