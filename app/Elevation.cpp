#include "Elevation.h"

#include "ProcessPlatform.h"

#include <QDebug>

#include <string>

bool enablePrivileges(platform::ProcessPlatform& process) {
    if (process.isUserAnAdmin()) {
        qDebug() << "enablePrivileges::RunAsAdmin";
        return false;
    }
    qDebug() << "enablePrivileges::enablePrivileges";

    std::string strPath;
    if (!process.moduleFileName(strPath)) return false;

    const unsigned long ulError = process.shellExecuteRunAs(strPath);
    if (ulError == 0) {
        qDebug() << "enablePrivileges::success";
        return true;
    }
    if (ulError == platform::kErrorCancelled) {
        qDebug() << "enablePrivileges::ERROR_CANCELLED";
    } else if (ulError == platform::kErrorFileNotFound) {
        qDebug() << "enablePrivileges::ERROR_FILE_NOT_FOUND";
    }
    return false;
}
