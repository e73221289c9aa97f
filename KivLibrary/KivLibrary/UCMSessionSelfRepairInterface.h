// Detects a UCM session left open by an earlier run (UCM busy, no session id
// on record) and closes it. Called from the runtime thread at start-up and
// from a method thread before a DPT download; never from two threads at once.
#ifndef KIVLIBRARY_KIVLIBRARY_UCMSESSIONSELFREPAIRINTERFACE_H
#define KIVLIBRARY_KIVLIBRARY_UCMSESSIONSELFREPAIRINTERFACE_H

class UCMSessionSelfRepairInterface {
public:
    virtual ~UCMSessionSelfRepairInterface() = default;

    // Commits and closes the sessions older than a fresh one until UCM is ready.
    virtual bool SessionAutoRepair() = 0;
    // Runs the repair when UCM is busy without a session of ours.
    virtual bool UCMSessionHangingCheck() = 0;
};

#endif
