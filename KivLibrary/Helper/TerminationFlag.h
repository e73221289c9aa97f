// The process-wide termination flag: set once when the process is asked to
// stop, polled by the run loop. Lock-free so it may be touched from anywhere.
#ifndef KIVLIBRARY_HELPER_TERMINATIONFLAG_H
#define KIVLIBRARY_HELPER_TERMINATIONFLAG_H

// Sets the flag; it is never cleared again.
void RequestTermination();
bool IsTerminationRequested();

#endif
