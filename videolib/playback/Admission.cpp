#include "Admission.h"

#include "VcError.h"

#include <dirent.h>
#include <sys/resource.h>

namespace vc {

int openDescriptors() {
    DIR* pFolder = opendir("/proc/self/fd");
    if (!pFolder) return -1;
    int iCount = 0;
    while (const dirent* pEntry = readdir(pFolder)) {
        if (pEntry->d_name[0] != '.') ++iCount;
    }
    closedir(pFolder);
    return iCount - 1;  // the folder's own
}

int descriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return -1;
    return static_cast<int>(qMin<rlim_t>(limit.rlim_cur, 1 << 30));
}

bool admitDescriptors(int iNeeded, const QString& strWhat, QJsonObject* pError) {
    const int iLimit = descriptorLimit();
    const int iOpen = openDescriptors();
    if (iLimit < 0 || iOpen < 0 || iOpen + iNeeded + kSpareDescriptors <= iLimit) return true;
    *pError = errorResult(Error::OutOfDescriptors, QStringLiteral("%1 refused: %2 of %3 descriptors in use, %4 needed")
                                                       .arg(strWhat)
                                                       .arg(iOpen)
                                                       .arg(iLimit)
                                                       .arg(iNeeded + kSpareDescriptors));
    return false;
}

}  // namespace vc
