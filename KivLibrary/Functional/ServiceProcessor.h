// Between the generic UDS service and the handlers: validates the frame
// against the SID and hands it to the SID's handler. No lock; the request is
// processed in the calling method thread.
#ifndef KIVLIBRARY_FUNCTIONAL_SERVICEPROCESSOR_H
#define KIVLIBRARY_FUNCTIONAL_SERVICEPROCESSOR_H

#include "KivLibrary/Functional/ServiceHandler.h"
#include "uds/Nrc.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ServiceProcessor {
public:
    ServiceProcessor(const UdsServiceDependencies& dependencies, AutonomousCheckSlot& autonomousCheck);

    // The response frame, positive or [7F SID NRC]; never empty.
    std::vector<uint8_t> Process(uint8_t sid, const std::vector<uint8_t>& request);
    // Logs the reason at error level.
    static std::vector<uint8_t> MakeNegativeResponse(uint8_t sid, const std::string& reason, UDS::Nrc nrc);

private:
    std::shared_ptr<ServiceHandler> m_serviceHandler;
};

#endif
