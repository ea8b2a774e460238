#ifndef APP_SINGLEINSTANCE_H
#define APP_SINGLEINSTANCE_H

// Takes the single-instance lock: a 100-byte shared-memory segment named by
// szKey that lives as long as this process. Returns true when this process
// now owns it, false when another live instance holds it or it cannot be
// created. The first call decides the key for the life of the process.
bool checkSingleInstance(const char* szKey);

#endif  // APP_SINGLEINSTANCE_H
