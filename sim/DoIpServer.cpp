#include "sim/DoIpServer.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Logger/Logging.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

namespace sim {

namespace doip {

std::vector<uint8_t> Frame(uint16_t payloadType, const std::vector<uint8_t>& payload) {
    const auto length = static_cast<uint32_t>(payload.size());
    std::vector<uint8_t> frame(kHeaderSize + payload.size());
    frame[0] = kProtocolVersion;
    frame[1] = static_cast<uint8_t>(~kProtocolVersion);
    frame[2] = static_cast<uint8_t>(payloadType >> 8);
    frame[3] = static_cast<uint8_t>(payloadType);
    for (int i = 0; i < 4; ++i) {
        frame[4 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    }
    std::copy(payload.begin(), payload.end(), frame.begin() + kHeaderSize);
    return frame;
}

}  // namespace doip

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

// Logical addresses of external test equipment.
constexpr uint16_t kFirstTesterAddress = 0x0E00;
constexpr uint16_t kLastTesterAddress = 0x0FFF;

enum class Io { kOk, kTimeout, kClosed, kStopped };

uint16_t Word(const uint8_t* at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }

void PutWord(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

// Waits until fd is ready for `events`, the stop pipe is readable or the deadline passed.
Io WaitFor(int fd, short events, int wakeFd, Clock::time_point deadline) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int ready = poll(fds, 2, RemainingMs(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Io::kClosed;
        }
        if (fds[1].revents != 0) {
            return Io::kStopped;
        }
        if (fds[0].revents != 0) {
            return Io::kOk;
        }
        if (Clock::now() >= deadline) {
            return Io::kTimeout;
        }
    }
}

Io ReadExact(int fd, int wakeFd, uint8_t* buffer, size_t size, Clock::time_point deadline) {
    size_t done = 0;
    while (done < size) {
        const Io ready = WaitFor(fd, POLLIN, wakeFd, deadline);
        if (ready != Io::kOk) {
            return ready;
        }
        const ssize_t got = recv(fd, buffer + done, size - done, 0);
        if (got == 0) {
            return Io::kClosed;
        }
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return Io::kClosed;
        }
        done += static_cast<size_t>(got);
    }
    return Io::kOk;
}

// Reads and drops `size` bytes in pieces, so a refused payload never takes memory.
Io Discard(int fd, int wakeFd, uint64_t size, Clock::time_point deadline) {
    uint8_t sink[4096];
    while (size > 0) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(size, sizeof(sink)));
        const Io io = ReadExact(fd, wakeFd, sink, piece, deadline);
        if (io != Io::kOk) {
            return io;
        }
        size -= piece;
    }
    return Io::kOk;
}

Io WriteAll(int fd, int wakeFd, const Bytes& bytes, Clock::time_point deadline) {
    size_t done = 0;
    while (done < bytes.size()) {
        const Io ready = WaitFor(fd, POLLOUT, wakeFd, deadline);
        if (ready != Io::kOk) {
            return ready;
        }
        const ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return Io::kClosed;
        }
        done += static_cast<size_t>(sent);
    }
    return Io::kOk;
}

bool IsServedType(uint16_t type) {
    return type == doip::kRoutingActivationRequest || type == doip::kAliveCheckRequest ||
           type == doip::kAliveCheckResponse || type == doip::kDiagnosticMessage;
}

bool ValidLength(uint16_t type, uint32_t length) {
    switch (type) {
        case doip::kRoutingActivationRequest:
            return length == 7 || length == 11;
        case doip::kAliveCheckRequest:
            return length == 0;
        case doip::kAliveCheckResponse:
            return length == 2;
        case doip::kDiagnosticMessage:
            return length >= 5;
        default:
            return false;
    }
}

}  // namespace

struct DoIpServer::Connection {
    // Closed and set to -1 by the connection's own thread, under writeMutex;
    // other threads use it only under writeMutex.
    int fd = -1;
    std::mutex writeMutex;
    std::thread thread;
    std::atomic<bool> finished{false};
    Clock::time_point connected = Clock::now();
    // Guarded by the server's m_mutex; written only by the connection's own
    // thread, except that an alive check that goes unanswered clears
    // `activated` of the connection it drops.
    bool activated = false;
    uint16_t tester = 0;
    bool busy = false;  // a request is with the handler
    uint64_t aliveAnswers = 0;
};

DoIpServer::DoIpServer(UdsHandler handler, Options options)
    : m_handler(std::move(handler)), m_options(std::move(options)) {}

DoIpServer::~DoIpServer() { Stop(); }

void DoIpServer::Start() {
    if (m_listenFd >= 0) {
        throw std::runtime_error("DoIP server already started");
    }
    if (pipe2(m_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("DoIP server: pipe: ") + std::strerror(errno));
    }
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) {
        throw std::runtime_error(std::string("DoIP server: socket: ") + std::strerror(errno));
    }
    const int on = 1;
    (void)setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_options.port);
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(m_listenFd, 8) != 0) {
        const std::string reason = std::strerror(errno);
        close(m_listenFd);
        m_listenFd = -1;
        throw std::runtime_error("DoIP server: cannot listen on 127.0.0.1:" + std::to_string(m_options.port) + ": " +
                                 reason);
    }
    socklen_t length = sizeof(address);
    (void)getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_stopping = false;
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    LogInfo() << "DoIP: listening on 127.0.0.1:" << m_port;
}

void DoIpServer::Stop() {
    if (m_stopping.exchange(true)) {
        return;
    }
    {
        // A routing activation waiting for alive checks gives up at once.
        std::lock_guard<std::mutex> lock(m_mutex);
    }
    m_aliveAnswered.notify_all();
    if (m_wakeFds[1] >= 0) {
        const uint8_t byte = 1;
        (void)!write(m_wakeFds[1], &byte, 1);
    }
    if (m_acceptThread.joinable()) {
        m_acceptThread.join();
    }
    ReapFinished(true);
    if (m_listenFd >= 0) {
        close(m_listenFd);
        m_listenFd = -1;
    }
    for (int& fd : m_wakeFds) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

void DoIpServer::ReapFinished(bool all) {
    std::list<ConnectionPtr> done;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (all || (*it)->finished) {
                done.push_back(std::move(*it));
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& connection : done) {
        if (connection->thread.joinable()) {
            connection->thread.join();
        }
    }
}

void DoIpServer::AcceptLoop() {
    while (!m_stopping) {
        const Io ready = WaitFor(m_listenFd, POLLIN, m_wakeFds[0], Clock::now() + std::chrono::seconds(1));
        ReapFinished(false);
        if (ready == Io::kStopped) {
            return;
        }
        if (ready != Io::kOk) {
            continue;
        }
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_connections.size() >= m_options.maxSockets) {
            LogWarn() << "DoIP: connection refused, " << m_connections.size() << " sockets already open";
            close(fd);
            continue;
        }
        const int on = 1;
        (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        auto connection = std::make_shared<Connection>();
        connection->fd = fd;
        m_connections.push_back(connection);
        Connection& served = *connection;
        served.thread = std::thread([this, &served] {
            Serve(served);
            {
                std::lock_guard<std::mutex> registry(m_mutex);
                served.activated = false;
            }
            m_aliveAnswered.notify_all();
            {
                std::lock_guard<std::mutex> writing(served.writeMutex);
                shutdown(served.fd, SHUT_RDWR);
                close(served.fd);
                served.fd = -1;
            }
            served.finished = true;
        });
    }
}

void DoIpServer::Serve(Connection& c) {
    const int wake = m_wakeFds[0];
    const uint16_t entity = m_options.logicalAddress;
    auto lastMessage = Clock::now();
    auto sendMessage = [&](uint16_t type, const Bytes& payload) { return Send(c, doip::Frame(type, payload)); };
    auto genericNack = [&](uint8_t code) {
        LogWarn() << "DoIP: generic header NACK " << HexDigits(code, 2);
        return sendMessage(doip::kGenericNack, {code});
    };
    auto diagnosticNack = [&](uint16_t tester, uint8_t code) {
        LogWarn() << "DoIP: diagnostic message NACK " << HexDigits(code, 2);
        Bytes payload;
        PutWord(payload, entity);
        PutWord(payload, tester);
        payload.push_back(code);
        return sendMessage(doip::kDiagnosticNack, payload);
    };

    // An alive check of another connection's routing activation may drop this one.
    auto registration = [&](uint16_t& tester) {
        std::lock_guard<std::mutex> lock(m_mutex);
        tester = c.tester;
        return c.activated;
    };
    uint16_t registeredTester = 0;

    while (!m_stopping) {
        const auto idleDeadline = registration(registeredTester) ? lastMessage + m_options.generalInactivity
                                                                 : c.connected + m_options.initialInactivity;
        uint8_t header[doip::kHeaderSize];
        Io io = ReadExact(c.fd, wake, header, 1, idleDeadline);
        if (io == Io::kTimeout) {
            LogInfo() << "DoIP: connection idle, closed";
        }
        if (io != Io::kOk) {
            return;
        }
        const auto messageDeadline = Clock::now() + m_options.messageTimeout;
        if (ReadExact(c.fd, wake, header + 1, doip::kHeaderSize - 1, messageDeadline) != Io::kOk) {
            return;
        }
        lastMessage = Clock::now();
        if (header[0] != doip::kProtocolVersion || header[1] != static_cast<uint8_t>(~header[0])) {
            // The stream can no longer be framed: the socket goes.
            (void)genericNack(doip::kIncorrectPattern);
            return;
        }
        const uint16_t type = Word(header + 2);
        const uint32_t length =
            (uint32_t{header[4]} << 24) | (uint32_t{header[5]} << 16) | (uint32_t{header[6]} << 8) | header[7];
        if (!IsServedType(type)) {
            if (!genericNack(doip::kUnknownPayloadType) || Discard(c.fd, wake, length, messageDeadline) != Io::kOk) {
                return;
            }
            continue;
        }
        if (length > m_options.maxPayload) {
            if (!genericNack(doip::kMessageTooLarge) || Discard(c.fd, wake, length, messageDeadline) != Io::kOk) {
                return;
            }
            continue;
        }
        if (!ValidLength(type, length)) {
            (void)genericNack(doip::kInvalidPayloadLength);
            return;
        }
        Bytes payload(length);
        if (length > 0 && ReadExact(c.fd, wake, payload.data(), length, messageDeadline) != Io::kOk) {
            return;
        }

        if (type == doip::kRoutingActivationRequest) {
            const uint16_t source = Word(payload.data());
            const uint8_t activationType = payload[2];
            const bool activated = registration(registeredTester);
            uint8_t code = doip::kRoutingActivated;
            if (source < kFirstTesterAddress || source > kLastTesterAddress) {
                code = doip::kUnknownSourceAddress;
            } else if (activationType != 0x00 && activationType != 0x01 && activationType != 0xE0) {
                code = doip::kUnsupportedActivationType;
            } else if (activated && source != registeredTester) {
                code = doip::kDifferentSourceAddress;
            } else if (!activated) {
                code = Register(c, source);
            }
            Bytes response;
            PutWord(response, source);
            PutWord(response, entity);
            response.push_back(code);
            response.insert(response.end(), 4, 0x00);
            if (!sendMessage(doip::kRoutingActivationResponse, response) || code != doip::kRoutingActivated) {
                LogWarn() << "DoIP: routing activation of 0x" << HexDigits(source, 4) << " denied, code 0x"
                          << HexDigits(code, 2);
                return;
            }
            LogInfo() << "DoIP: routing activated for tester 0x" << HexDigits(source, 4);
        } else if (type == doip::kAliveCheckRequest) {
            Bytes response;
            PutWord(response, entity);
            if (!sendMessage(doip::kAliveCheckResponse, response)) {
                return;
            }
        } else if (type == doip::kAliveCheckResponse) {
            // The message itself renewed the inactivity time; a routing
            // activation may be waiting for it.
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                ++c.aliveAnswers;
            }
            m_aliveAnswered.notify_all();
        } else if (type == doip::kDiagnosticMessage) {
            const uint16_t source = Word(payload.data());
            const uint16_t target = Word(payload.data() + 2);
            if (!registration(registeredTester) || source != registeredTester) {
                (void)diagnosticNack(source, doip::kInvalidSourceAddress);
                return;
            }
            if (target != entity) {
                if (!diagnosticNack(source, doip::kUnknownTargetAddress)) {
                    return;
                }
                continue;
            }
            Bytes ack;
            PutWord(ack, entity);
            PutWord(ack, source);
            ack.push_back(0x00);
            if (!sendMessage(doip::kDiagnosticAck, ack)) {
                return;
            }
            const Bytes request(payload.begin() + 4, payload.end());
            Bytes answer;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                c.busy = true;
            }
            try {
                answer = m_handler(request);
            } catch (const std::exception& error) {
                LogError() << "DoIP: the UDS handler failed: " << error.what();
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                c.busy = false;
            }
            if (!answer.empty()) {
                Bytes response;
                PutWord(response, entity);
                PutWord(response, source);
                response.insert(response.end(), answer.begin(), answer.end());
                if (!sendMessage(doip::kDiagnosticMessage, response)) {
                    return;
                }
            }
            lastMessage = Clock::now();
        }
    }
}

bool DoIpServer::Send(Connection& c, const Bytes& message) {
    std::lock_guard<std::mutex> lock(c.writeMutex);
    return c.fd >= 0 && WriteAll(c.fd, m_wakeFds[0], message, Clock::now() + m_options.writeTimeout) == Io::kOk;
}

uint8_t DoIpServer::Register(Connection& c, uint16_t source) {
    std::lock_guard<std::mutex> serial(m_registration);
    std::vector<ConnectionPtr> holders;
    bool sameTester = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t registered = 0;
        for (const ConnectionPtr& other : m_connections) {
            if (other.get() == &c || !other->activated) {
                continue;
            }
            ++registered;
            if (other->tester == source) {
                holders = {other};
                sameTester = true;
            }
        }
        if (!sameTester && registered < m_options.maxConnections) {
            c.activated = true;
            c.tester = source;
            return doip::kRoutingActivated;
        }
        if (!sameTester) {
            for (const ConnectionPtr& other : m_connections) {
                if (other.get() != &c && other->activated) {
                    holders.push_back(other);
                }
            }
        }
    }
    if (AllAlive(holders)) {
        return sameTester ? doip::kSourceAddressActiveElsewhere : doip::kAllSocketsInUse;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    c.activated = true;
    c.tester = source;
    return doip::kRoutingActivated;
}

bool DoIpServer::AllAlive(const std::vector<ConnectionPtr>& connections) {
    struct Check {
        ConnectionPtr connection;
        uint64_t answersBefore;
    };
    std::vector<Check> checks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const ConnectionPtr& connection : connections) {
            // A tester whose request is being handled is in use, not gone.
            if (connection->activated && !connection->busy) {
                checks.push_back(Check{connection, connection->aliveAnswers});
            }
        }
    }
    for (const Check& check : checks) {
        (void)Send(*check.connection, doip::Frame(doip::kAliveCheckRequest, {}));
    }
    const auto answered = [](const Check& check) {
        const Connection& c = *check.connection;
        return !c.activated || c.busy || c.aliveAnswers > check.answersBefore;
    };
    std::vector<std::pair<ConnectionPtr, uint16_t>> silent;
    bool allAlive = true;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        (void)m_aliveAnswered.wait_until(lock, Clock::now() + m_options.aliveCheckTimeout, [&] {
            return m_stopping || std::all_of(checks.begin(), checks.end(), answered);
        });
        for (const ConnectionPtr& connection : connections) {
            allAlive = allAlive && connection->activated;
        }
        for (const Check& check : checks) {
            if (!answered(check)) {
                check.connection->activated = false;
                silent.emplace_back(check.connection, check.connection->tester);
                allAlive = false;
            }
        }
    }
    for (const auto& [connection, tester] : silent) {
        LogWarn() << "DoIP: tester 0x" << HexDigits(tester, 4)
                  << " did not answer the alive check, its socket is closed";
        std::lock_guard<std::mutex> writing(connection->writeMutex);
        if (connection->fd >= 0) {
            shutdown(connection->fd, SHUT_RDWR);
        }
    }
    return allAlive;
}

}  // namespace sim
