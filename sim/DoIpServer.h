// A diagnostic-over-IP entity (ISO 13400-2, TCP data sockets only) in front
// of a UDS request handler, so that an outside tester reaches the simulated
// diagnostic manager over a socket: the generic header with its negative
// acknowledgements, routing activation, diagnostic messages with their
// acknowledgements, and the alive check. Listens on 127.0.0.1 only.
// Threading: Start and Stop from one owning thread; each connection runs on
// a thread of its own, the handler is called from those threads, one request
// at a time per connection. Every read and write is bounded by a time-out and
// wakes at once on Stop.
// Socket handling follows ISO 13400-2: at most Options::maxConnections
// sockets hold a routing activation; when they are all taken, or the tester
// address is already active on another socket, a routing activation first
// checks with an alive check whether the holders still answer, and is
// refused (0x01, 0x03) only when they do.
// Not part of the product.
#ifndef SIM_DOIPSERVER_H
#define SIM_DOIPSERVER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

namespace doip {

constexpr uint8_t kProtocolVersion = 0x02;
constexpr size_t kHeaderSize = 8;

enum PayloadType : uint16_t {
    kGenericNack = 0x0000,
    kRoutingActivationRequest = 0x0005,
    kRoutingActivationResponse = 0x0006,
    kAliveCheckRequest = 0x0007,
    kAliveCheckResponse = 0x0008,
    kDiagnosticMessage = 0x8001,
    kDiagnosticAck = 0x8002,
    kDiagnosticNack = 0x8003,
};

enum GenericNackCode : uint8_t {
    kIncorrectPattern = 0x00,
    kUnknownPayloadType = 0x01,
    kMessageTooLarge = 0x02,
    kInvalidPayloadLength = 0x04,
};

enum DiagnosticNackCode : uint8_t {
    kInvalidSourceAddress = 0x02,
    kUnknownTargetAddress = 0x03,
};

enum RoutingActivationCode : uint8_t {
    kUnknownSourceAddress = 0x00,
    kAllSocketsInUse = 0x01,
    kDifferentSourceAddress = 0x02,
    kSourceAddressActiveElsewhere = 0x03,
    kUnsupportedActivationType = 0x06,
    kRoutingActivated = 0x10,
};

// A whole message: generic header (version, its inverse, type, length) and payload.
std::vector<uint8_t> Frame(uint16_t payloadType, const std::vector<uint8_t>& payload);

}  // namespace doip

class DoIpServer {
public:
    using UdsHandler = std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)>;

    struct Options {
        // 0 takes a free port (see Port()).
        uint16_t port = 13400;
        // The entity's logical address: the target of diagnostic messages.
        uint16_t logicalAddress = 0x1001;
        // Largest payload accepted; larger messages are refused with NACK 0x02.
        uint32_t maxPayload = 16 * 1024;
        // Once a message has begun, the rest must arrive within this time.
        std::chrono::milliseconds messageTimeout{2000};
        // A socket without routing activation this long after its connect is closed.
        std::chrono::milliseconds initialInactivity{2000};
        // An activated socket without any message this long is closed.
        std::chrono::milliseconds generalInactivity{300000};
        // A registered tester that does not answer an alive check this long is dropped.
        std::chrono::milliseconds aliveCheckTimeout{500};
        // A peer that takes no bytes this long is dropped.
        std::chrono::milliseconds writeTimeout{2000};
        // Sockets with a routing activation at once.
        size_t maxConnections = 4;
        // Open sockets at once, activated or not: the spare ones let a tester
        // be told why it is refused. Further connections are closed at accept.
        size_t maxSockets = 8;
    };

    // The handler answers one UDS request; an empty answer (a suppressed
    // positive response) sends only the acknowledgement.
    DoIpServer(UdsHandler handler, Options options);
    ~DoIpServer();
    DoIpServer(const DoIpServer&) = delete;
    DoIpServer& operator=(const DoIpServer&) = delete;

    // Binds and listens; throws std::runtime_error when the port cannot be had.
    void Start();
    // Closes the listener and every connection and joins their threads; the
    // longest wait is one pending handler call.
    void Stop();
    // The port actually bound (after Start).
    uint16_t Port() const { return m_port; }

private:
    struct Connection;
    using ConnectionPtr = std::shared_ptr<Connection>;

    void AcceptLoop();
    void Serve(Connection& connection);
    void ReapFinished(bool all);
    // The routing activation code for `source` on `connection`, which is
    // registered when it is kRoutingActivated.
    uint8_t Register(Connection& connection, uint16_t source);
    // Alive-checks the connections; those that do not answer in time are
    // closed. True when all of them answered (or are busy with a request).
    bool AllAlive(const std::vector<ConnectionPtr>& connections);
    // Writes one message to the connection's socket, unless it is closed.
    bool Send(Connection& connection, const std::vector<uint8_t>& message);

    UdsHandler m_handler;
    Options m_options;
    int m_listenFd = -1;
    // Readable once Stop was called: wakes every poll at once.
    int m_wakeFds[2] = {-1, -1};
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::condition_variable m_aliveAnswered;  // with m_mutex
    std::list<ConnectionPtr> m_connections;   // m_mutex
    // One routing activation at a time, so two cannot take the last socket.
    std::mutex m_registration;
};

}  // namespace sim

#endif
