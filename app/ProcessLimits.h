#ifndef APP_PROCESSLIMITS_H
#define APP_PROCESSLIMITS_H

// Raises the soft limit of open descriptors to the hard limit, so that the
// connection cap, not the desktop's default of 1,024, bounds the service.
// Returns the limit now in force (0 where there is none to raise).
long raiseDescriptorLimit();

// Keeps the allocator to a few arenas, so that memory freed after a burst
// goes back to the system instead of staying spread over per-thread arenas.
void chooseMemoryPolicy();

#endif  // APP_PROCESSLIMITS_H
