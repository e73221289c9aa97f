// The process's own interface for execution-state reports, so that the
// runtime does not depend on the platform's execution-management client.
// Used by the runtime thread only; implementations take no lock.
#ifndef KIVLIBRARY_KIVLIBRARY_APPLICATIONSTATEREPORTER_H
#define KIVLIBRARY_KIVLIBRARY_APPLICATIONSTATEREPORTER_H

class ApplicationStateReporter {
public:
    virtual ~ApplicationStateReporter() = default;
    // True when the report was made without an exception; the answer of
    // execution management is only logged.
    virtual bool ReportRunning() = 0;
    virtual bool ReportTerminating() = 0;
};

#endif
