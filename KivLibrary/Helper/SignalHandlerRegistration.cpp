#include "KivLibrary/Helper/SignalHandlerRegistration.h"

#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/Logger/Logging.h"

#include <utility>

SignalHandlerRegistration::SignalHandlerRegistration(SystemCallApiProvider provider) : provider_(std::move(provider)) {
    const std::shared_ptr<SystemCallAPICommon> api = ObtainApi();
    if (!api) {
        return;
    }
    if (!api->RegisterSigInt(&RequestTermination)) {
        LogError() << "Could not register for SIG_INT";
    }
    if (!api->RegisterSigTerm(&RequestTermination)) {
        LogError() << "Could not register for SIG_TERM";
    }
    if (!api->RegisterSigAbrt(&RequestTermination)) {
        LogError() << "Could not register for SIG_ABRT";
    }
}

SignalHandlerRegistration::~SignalHandlerRegistration() {
    const std::shared_ptr<SystemCallAPICommon> api = ObtainApi();
    if (!api) {
        return;
    }
    if (!api->UnregisterSigTerm(&RequestTermination)) {
        LogError() << "Could not un-register for SIG_TERM";
    }
    if (!api->UnregisterSigInt(&RequestTermination)) {
        LogError() << "Could not un-register for SIG_INT";
    }
    if (!api->UnregisterSigAbrt(&RequestTermination)) {
        LogError() << "Could not un-register for SIG_ABRT";
    }
}

std::shared_ptr<SystemCallAPICommon> SignalHandlerRegistration::ObtainApi() const {
    std::shared_ptr<SystemCallAPICommon> api;
    // Runs in the destructor too, where an exception would end the process.
    TryExecute("SignalHandlerRegistration", [this, &api] { api = provider_(); });
    return api;
}
