#ifndef APP_QUITONSIGNAL_H
#define APP_QUITONSIGNAL_H

// On Unix, SIGTERM and SIGINT ask the event loop to quit, so start-up's
// clean-up runs (the server is destroyed, the single-instance lock released)
// instead of the process dying on the spot. Does nothing elsewhere.
void quitEventLoopOnTerminationSignals();

#endif  // APP_QUITONSIGNAL_H
