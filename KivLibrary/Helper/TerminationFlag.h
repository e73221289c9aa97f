// The process-wide termination flag: set once when the process is asked to
// stop, polled by the run loop. Lock-free so it may be touched from anywhere.
#ifndef KIVLIBRARY_HELPER_TERMINATIONFLAG_H
#define KIVLIBRARY_HELPER_TERMINATIONFLAG_H

// Sets the flag; within one run of the process it is never cleared again.
void RequestTermination();
bool IsTerminationRequested();

// Clears the flag so that the process entry can run again in the same
// process (a restart in a test). Not for product code.
void ResetTerminationRequest();

#endif
