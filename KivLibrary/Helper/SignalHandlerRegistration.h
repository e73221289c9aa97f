// Binds SIGINT, SIGTERM and SIGABRT to the termination flag for as long as
// the object lives; the destructor restores the default dispositions.
#ifndef KIVLIBRARY_HELPER_SIGNALHANDLERREGISTRATION_H
#define KIVLIBRARY_HELPER_SIGNALHANDLERREGISTRATION_H

#include "KivLibrary/Helper/SystemCall.h"

#include <functional>
#include <memory>

class SignalHandlerRegistration {
public:
    using SystemCallApiProvider = std::function<std::shared_ptr<SystemCallAPICommon>()>;

    explicit SignalHandlerRegistration(SystemCallApiProvider provider);
    ~SignalHandlerRegistration();
    SignalHandlerRegistration(const SignalHandlerRegistration&) = delete;
    SignalHandlerRegistration& operator=(const SignalHandlerRegistration&) = delete;

private:
    std::shared_ptr<SystemCallAPICommon> ObtainApi() const;

    SystemCallApiProvider provider_;
};

#endif
