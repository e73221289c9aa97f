// The process's own interface for alive supervision, so that the runtime does
// not depend on the platform's health-management client. Used by the alive
// thread only; implementations take no lock.
#ifndef KIVLIBRARY_KIVLIBRARY_APPLICATIONALIVEREPORTER_H
#define KIVLIBRARY_KIVLIBRARY_APPLICATIONALIVEREPORTER_H

#include <cstdint>

class ApplicationAliveReporter {
public:
    virtual ~ApplicationAliveReporter() = default;
    // Reports the default supervision id and checkpoint given at creation.
    virtual void ReportDefaultCheckpoint() = 0;
    // Never throws: a failure is logged and the next report reconnects.
    virtual void ReportApplicationIsAlive(uint16_t supervisionId, uint16_t checkpoint) = 0;
};

#endif
