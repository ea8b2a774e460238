#ifndef APP_ELEVATION_H
#define APP_ELEVATION_H

namespace platform {
class ProcessPlatform;
}

// Makes sure the process runs with administrator rights: when it does not,
// launches an elevated copy of the executable (without this process's
// arguments). Returns true when that copy was launched and this process must
// end now with exit code 1; false when the process goes on, elevated or not.
bool enablePrivileges(platform::ProcessPlatform& process);

#endif  // APP_ELEVATION_H
