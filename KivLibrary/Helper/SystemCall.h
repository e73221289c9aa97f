// Process-wide signal dispatcher: maps a signal number to a registered function
// and host-name access. The system functions are injected so tests can make
// them fail.
#ifndef KIVLIBRARY_HELPER_SYSTEMCALL_H
#define KIVLIBRARY_HELPER_SYSTEMCALL_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class SystemCallAPICommon {
public:
    virtual ~SystemCallAPICommon() = default;
    // A later registration for the same signal replaces the earlier one. The
    // unregister operations ignore their argument and drop whatever is registered.
    virtual bool RegisterSigTerm(std::function<void()> function) = 0;
    virtual bool UnregisterSigTerm(std::function<void()> function) = 0;
    virtual bool RegisterSigInt(std::function<void()> function) = 0;
    virtual bool UnregisterSigInt(std::function<void()> function) = 0;
    virtual bool RegisterSigAbrt(std::function<void()> function) = 0;
    virtual bool UnregisterSigAbrt(std::function<void()> function) = 0;
    // Empty when the host name cannot be read.
    virtual std::string GetHostName() = 0;
};

// The table of registered functions is process-wide and shared by every
// instance. The kernel's handler only records the signal; a dispatcher thread
// logs it and runs the registered function, so that function may lock and log
// freely. It therefore runs shortly after the signal, not inside it.
class SystemCallImplCommon : public SystemCallAPICommon {
public:
    using SignalHandler = void (*)(int);
    using SignalFunction = SignalHandler (*)(int, SignalHandler);
    using GetHostNameFunction = int (*)(char*, size_t);

    SystemCallImplCommon(SignalFunction signalFunction, GetHostNameFunction getHostNameFunction);

    bool RegisterSigTerm(std::function<void()> function) override;
    bool UnregisterSigTerm(std::function<void()> function) override;
    bool RegisterSigInt(std::function<void()> function) override;
    bool UnregisterSigInt(std::function<void()> function) override;
    bool RegisterSigAbrt(std::function<void()> function) override;
    bool UnregisterSigAbrt(std::function<void()> function) override;
    std::string GetHostName() override;

private:
    bool Register(int signalNumber, std::function<void()> function);
    bool Unregister(int signalNumber);

    SignalFunction signal_;
    GetHostNameFunction getHostName_;
};

// The process-wide dispatcher over the system's signal() and gethostname();
// created on first use and deliberately never destroyed, so signals arriving
// during static destruction find it intact.
std::shared_ptr<SystemCallAPICommon> GetSystemCallApi();

#endif
