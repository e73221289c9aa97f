// Detects a UCM session left open by an earlier run (UCM BUSY while no
// session id is on record) and repairs it. Runs in the calling thread.
#ifndef KIVLIBRARY_KIVLIBRARY_UCMSESSIONSELFREPAIRINTERFACE_H
#define KIVLIBRARY_KIVLIBRARY_UCMSESSIONSELFREPAIRINTERFACE_H

class UCMSessionSelfRepairInterface {
public:
    virtual ~UCMSessionSelfRepairInterface() = default;

    // Opens and closes a fresh session, then commits and closes the older
    // ones, newest first, until UCM reports READY.
    virtual bool SessionAutoRepair() = 0;
    // Runs the repair when UCM is BUSY without a session id on record.
    virtual bool UCMSessionHangingCheck() = 0;
};

#endif
