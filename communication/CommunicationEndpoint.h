// What owners see of a communication endpoint (client or service).
#ifndef COMMUNICATION_COMMUNICATIONENDPOINT_H
#define COMMUNICATION_COMMUNICATIONENDPOINT_H

#include <string>

class CommunicationEndpoint {
public:
    virtual ~CommunicationEndpoint() = default;
    virtual bool Launch() = 0;
    virtual bool Shutdown() = 0;
    virtual std::string GetServiceName() const = 0;
    virtual std::string GetInstance() const = 0;
    virtual std::string GetVersion() const = 0;
};

#endif
