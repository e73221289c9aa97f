// The UDS handlers by SID. Filled once by the constructor and read-only after
// it, so concurrent requests look handlers up without a lock.
#ifndef KIVLIBRARY_FUNCTIONAL_SERVICEHANDLER_H
#define KIVLIBRARY_FUNCTIONAL_SERVICEHANDLER_H

#include "KivLibrary/Functional/ServiceBase.h"
#include "KivLibrary/Functional/UdsServiceDependencies.h"

#include <cstdint>
#include <map>
#include <memory>

class ServiceHandler {
public:
    ServiceHandler(const UdsServiceDependencies& dependencies, AutonomousCheckSlot& autonomousCheck);

    // Inserts, or replaces the handler of the same SID.
    void AddService(uint8_t sid, std::shared_ptr<ServiceBase> handler);
    // Null for a SID without a handler.
    std::shared_ptr<ServiceBase> Find(uint8_t sid) const;

private:
    std::map<uint8_t, std::shared_ptr<ServiceBase>> m_services;
};

#endif
