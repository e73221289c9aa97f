// The DoIP entity over a real loopback socket: well-formed exchanges, every
// refused header and message with its acknowledgement and whether the socket
// stays, short and lying headers that must not hold it, the socket limits
// with their alive checks, and a stop while a tester is in the middle of a
// message.
#include "sim/DoIpServer.h"

#include "tests/support/LogCapture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using sim::doip::Frame;

constexpr std::chrono::milliseconds kBound{5000};
constexpr uint16_t kTester = 0x0E80;
constexpr uint16_t kEntity = 0x1001;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes Word(uint16_t value) { return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }

Bytes Activation(uint16_t source, uint8_t type = 0x00, bool oem = false) {
    Bytes payload = Cat({Word(source), {type, 0, 0, 0, 0}});
    if (oem) {
        payload.insert(payload.end(), {0xA, 0xB, 0xC, 0xD});
    }
    return Frame(0x0005, payload);
}

Bytes ActivationResponse(uint16_t tester, uint8_t code) {
    return Frame(0x0006, Cat({Word(tester), Word(kEntity), {code, 0, 0, 0, 0}}));
}

Bytes Diagnostic(uint16_t source, uint16_t target, const Bytes& uds) {
    return Frame(0x8001, Cat({Word(source), Word(target), uds}));
}

Bytes Ack() { return Frame(0x8002, Cat({Word(kEntity), Word(kTester), {0x00}})); }
Bytes Nack(uint16_t tester, uint8_t code) { return Frame(0x8003, Cat({Word(kEntity), Word(tester), {code}})); }
Bytes HeaderNack(uint8_t code) { return Frame(0x0000, {code}); }
Bytes Response(const Bytes& uds) { return Diagnostic(kEntity, kTester, uds); }

// A header as given, whatever it claims.
Bytes Header(uint8_t version, uint8_t inverse, uint16_t type, uint32_t length) {
    return Cat({{version, inverse}, Word(type), Word(static_cast<uint16_t>(length >> 16)), Word(length & 0xFFFF)});
}

class Client {
public:
    explicit Client(uint16_t port) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        if (m_fd < 0 || connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            throw std::runtime_error("cannot connect");
        }
    }
    ~Client() { close(m_fd); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Send(const Bytes& bytes) {
        ASSERT_EQ(send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }

    // One whole message; empty when the socket closed or nothing came in time.
    Bytes Receive() {
        Bytes header(8);
        if (!Read(header.data(), header.size())) {
            return {};
        }
        const uint32_t length =
            (uint32_t{header[4]} << 24) | (uint32_t{header[5]} << 16) | (uint32_t{header[6]} << 8) | header[7];
        if (length > 1 << 20) {
            return header;
        }
        Bytes payload(length);
        if (length > 0 && !Read(payload.data(), length)) {
            return {};
        }
        return Cat({header, payload});
    }

    // True when the server closes the socket within the bound without sending anything.
    bool ClosedWithin(std::chrono::milliseconds bound) {
        uint8_t byte = 0;
        const auto deadline = Clock::now() + bound;
        for (;;) {
            pollfd fd{m_fd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            const ssize_t got = recv(m_fd, &byte, 1, 0);
            return got == 0 || (got < 0 && errno == ECONNRESET);
        }
    }

    // Nothing arrives within a short look.
    bool Quiet() {
        pollfd fd{m_fd, POLLIN, 0};
        return poll(&fd, 1, 50) == 0;
    }

private:
    bool Read(uint8_t* buffer, size_t size) {
        const auto deadline = Clock::now() + kBound;
        size_t done = 0;
        while (done < size) {
            pollfd fd{m_fd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            const ssize_t got = recv(m_fd, buffer + done, size - done, 0);
            if (got <= 0) {
                return false;
            }
            done += static_cast<size_t>(got);
        }
        return true;
    }

    int m_fd = -1;
};

// Answers as a server positively would; 3E 80 is answered by silence.
class RecordingHandler {
public:
    Bytes operator()(const Bytes& request) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
        if (request == Bytes{0x3E, 0x80}) {
            return {};
        }
        Bytes response = request;
        response[0] = static_cast<uint8_t>(response[0] + 0x40);
        return response;
    }
    std::vector<Bytes> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

private:
    std::mutex m_mutex;
    std::vector<Bytes> m_requests;
};

sim::DoIpServer::Options TestOptions() {
    sim::DoIpServer::Options options;
    options.port = 0;
    options.logicalAddress = kEntity;
    options.maxPayload = 64;
    options.messageTimeout = std::chrono::milliseconds(300);
    options.initialInactivity = std::chrono::milliseconds(1000);
    return options;
}

class DoIpServerTest : public ::testing::Test {
protected:
    DoIpServerTest() { server.Start(); }

    testsupport::LogCapture capture;
    RecordingHandler handler;
    sim::DoIpServer server{[this](const Bytes& request) { return handler(request); }, TestOptions()};
};

TEST_F(DoIpServerTest, ExchangesAndRefusalsWithTheirAnswersAndTheSocketsFate) {
    struct Step {
        Bytes send;
        std::vector<Bytes> expect;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        bool closed;  // the server closes the socket after the last step
        std::vector<Bytes> handled;
    };
    const Bytes read{0x22, 0xF1, 0x87};
    const Bytes activate = Activation(kTester);
    const Bytes activated = ActivationResponse(kTester, 0x10);
    const Bytes payload65(65, 0x11);
    const Case cases[] = {
        {"activation, then a request with its ack and response",
         {{activate, {activated}}, {Diagnostic(kTester, kEntity, read), {Ack(), Response({0x62, 0xF1, 0x87})}}},
         false,
         {read}},
        {"activation with the OEM field, then activated again by the same tester",
         {{Activation(kTester, 0x01, true), {activated}}, {Activation(kTester, 0xE0), {activated}}},
         false,
         {}},
        {"two messages in one segment",
         {{Cat({activate, Diagnostic(kTester, kEntity, {0x10, 0x02})}), {activated, Ack(), Response({0x50, 0x02})}}},
         false,
         {{0x10, 0x02}}},
        {"a suppressed response sends the ack alone",
         {{activate, {activated}},
          {Diagnostic(kTester, kEntity, {0x3E, 0x80}), {Ack()}},
          {Diagnostic(kTester, kEntity, read), {Ack(), Response({0x62, 0xF1, 0x87})}}},
         false,
         {{0x3E, 0x80}, read}},
        {"alive check", {{Frame(0x0007, {}), {Frame(0x0008, Word(kEntity))}}}, false, {}},
        {"a request before routing activation",
         {{Diagnostic(kTester, kEntity, read), {Nack(kTester, 0x02)}}},
         true,
         {}},
        {"a request from another source than the activated one",
         {{activate, {activated}}, {Diagnostic(0x0E81, kEntity, read), {Nack(0x0E81, 0x02)}}},
         true,
         {}},
        {"an unknown target keeps the socket",
         {{activate, {activated}},
          {Diagnostic(kTester, 0x2000, read), {Nack(kTester, 0x03)}},
          {Diagnostic(kTester, kEntity, read), {Ack(), Response({0x62, 0xF1, 0x87})}}},
         false,
         {read}},
        {"activation from outside the tester range",
         {{Activation(0x0100), {ActivationResponse(0x0100, 0x00)}}},
         true,
         {}},
        {"activation of an unsupported type",
         {{Activation(kTester, 0x05), {ActivationResponse(kTester, 0x06)}}},
         true,
         {}},
        {"activation by a second tester on an activated socket",
         {{activate, {activated}}, {Activation(0x0E81), {ActivationResponse(0x0E81, 0x02)}}},
         true,
         {}},
        {"wrong protocol version", {{Cat({Header(0x03, 0xFC, 0x0005, 7), Bytes(7)}), {HeaderNack(0x00)}}}, true, {}},
        {"inverse version not the inverse",
         {{Cat({Header(0x02, 0xFC, 0x0005, 7), Bytes(7)}), {HeaderNack(0x00)}}},
         true,
         {}},
        {"unknown payload type, its payload skipped",
         {{Cat({Header(0x02, 0xFD, 0x4001, 3), {1, 2, 3}}), {HeaderNack(0x01)}}, {activate, {activated}}},
         false,
         {}},
        {"a vehicle identification request is not served on the socket",
         {{Header(0x02, 0xFD, 0x0001, 0), {HeaderNack(0x01)}}, {activate, {activated}}},
         false,
         {}},
        {"too large, its payload skipped",
         {{activate, {activated}},
          {Cat({Header(0x02, 0xFD, 0x8001, 65), payload65}), {HeaderNack(0x02)}},
          {Diagnostic(kTester, kEntity, read), {Ack(), Response({0x62, 0xF1, 0x87})}}},
         false,
         {read}},
        {"a lying length far too large and no payload",
         {{Header(0x02, 0xFD, 0x8001, 0xFFFFFFFF), {HeaderNack(0x02)}}},
         true,
         {}},
        {"activation one byte short", {{Cat({Header(0x02, 0xFD, 0x0005, 6), Bytes(6)}), {HeaderNack(0x04)}}}, true, {}},
        {"diagnostic message without user data",
         {{activate, {activated}},
          {Cat({Header(0x02, 0xFD, 0x8001, 4), Word(kTester), Word(kEntity)}), {HeaderNack(0x04)}}},
         true,
         {}},
        {"alive check with a payload", {{Cat({Header(0x02, 0xFD, 0x0007, 1), {0}}), {HeaderNack(0x04)}}}, true, {}},
        {"a header cut short", {{{0x02, 0xFD, 0x80}, {}}}, true, {}},
        {"a payload shorter than its header says",
         {{activate, {activated}}, {Cat({Header(0x02, 0xFD, 0x8001, 20), Word(kTester), Word(kEntity), {0x22}}), {}}},
         true,
         {}},
        {"no routing activation in time", {}, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t handledBefore = handler.Requests().size();
        Client client(server.Port());
        for (const Step& step : c.steps) {
            client.Send(step.send);
            for (const Bytes& expected : step.expect) {
                EXPECT_EQ(client.Receive(), expected);
            }
        }
        if (c.closed) {
            EXPECT_TRUE(client.ClosedWithin(kBound));
        } else {
            EXPECT_TRUE(client.Quiet());
        }
        const std::vector<Bytes> all = handler.Requests();
        EXPECT_EQ(std::vector<Bytes>(all.begin() + static_cast<long>(handledBefore), all.end()), c.handled);
    }
}

TEST_F(DoIpServerTest, SocketsBeyondTheLimitAreClosedAtAcceptAndTheOthersServed) {
    sim::DoIpServer::Options options = TestOptions();
    options.maxSockets = 1;
    sim::DoIpServer single([this](const Bytes& request) { return handler(request); }, options);
    single.Start();
    Client first(single.Port());
    first.Send(Activation(kTester));
    ASSERT_EQ(first.Receive(), ActivationResponse(kTester, 0x10));
    Client second(single.Port());
    EXPECT_TRUE(second.ClosedWithin(kBound));
    first.Send(Diagnostic(kTester, kEntity, {0x22, 0x01, 0x02}));
    EXPECT_EQ(first.Receive(), Ack());
    EXPECT_EQ(first.Receive(), Response({0x62, 0x01, 0x02}));
}

// A tester that finds every socket registered, or its address active on
// another socket, is refused only when the holders answer an alive check;
// holders that stay silent lose their socket to it.
TEST_F(DoIpServerTest, AnActivationThatFindsItsPlaceTakenAliveChecksTheHolders) {
    struct Case {
        const char* name;
        std::vector<uint16_t> holders;
        bool holdersAnswer;
        uint16_t newcomer;
        uint8_t code;
    };
    const Case cases[] = {
        {"every socket registered, the holders answer", {0x0E80, 0x0E81}, true, 0x0E82, 0x01},
        {"every socket registered, the holders are gone", {0x0E80, 0x0E81}, false, 0x0E82, 0x10},
        {"the address active on another socket that answers", {0x0E82}, true, 0x0E82, 0x03},
        {"the address active on another socket that is gone", {0x0E82}, false, 0x0E82, 0x10},
    };
    const Bytes read{0x22, 0xF1, 0x87};
    const auto served = [&](Client& client, uint16_t tester) {
        client.Send(Diagnostic(tester, kEntity, read));
        return client.Receive() == Frame(0x8002, Cat({Word(kEntity), Word(tester), {0x00}})) &&
               client.Receive() == Diagnostic(kEntity, tester, {0x62, 0xF1, 0x87});
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DoIpServer::Options options = TestOptions();
        options.maxConnections = 2;
        // Holders that answer must never be taken for gone; silent ones are
        // waited out.
        options.aliveCheckTimeout = c.holdersAnswer ? std::chrono::milliseconds(10000) : std::chrono::milliseconds(200);
        sim::DoIpServer limited([this](const Bytes& request) { return handler(request); }, options);
        limited.Start();
        std::vector<std::unique_ptr<Client>> holders;
        for (uint16_t tester : c.holders) {
            holders.push_back(std::make_unique<Client>(limited.Port()));
            holders.back()->Send(Activation(tester));
            ASSERT_EQ(holders.back()->Receive(), ActivationResponse(tester, 0x10));
        }
        Client newcomer(limited.Port());
        newcomer.Send(Activation(c.newcomer));
        for (size_t i = 0; i < holders.size(); ++i) {
            ASSERT_EQ(holders[i]->Receive(), Frame(0x0007, {}));
            if (c.holdersAnswer) {
                holders[i]->Send(Frame(0x0008, Word(c.holders[i])));
            }
        }
        EXPECT_EQ(newcomer.Receive(), ActivationResponse(c.newcomer, c.code));
        if (c.code == 0x10) {
            for (auto& holder : holders) {
                EXPECT_TRUE(holder->ClosedWithin(kBound));
            }
            EXPECT_TRUE(served(newcomer, c.newcomer));
        } else {
            EXPECT_TRUE(newcomer.ClosedWithin(kBound));
            EXPECT_TRUE(served(*holders.front(), c.holders.front()));
        }
    }
}

TEST_F(DoIpServerTest, StopEndsAnIdleAndAHalfSentConnectionAtOnce) {
    sim::DoIpServer::Options options = TestOptions();
    options.initialInactivity = std::chrono::minutes(5);
    options.messageTimeout = std::chrono::minutes(5);
    sim::DoIpServer patient([this](const Bytes& request) { return handler(request); }, options);
    patient.Start();
    Client idle(patient.Port());
    Client halfway(patient.Port());
    halfway.Send({0x02, 0xFD, 0x80, 0x01, 0x00});
    EXPECT_TRUE(idle.Quiet());

    const auto started = Clock::now();
    auto stopped = std::async(std::launch::async, [&] { patient.Stop(); });
    ASSERT_EQ(stopped.wait_for(kBound), std::future_status::ready);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(2));
    EXPECT_TRUE(idle.ClosedWithin(kBound));
    EXPECT_TRUE(halfway.ClosedWithin(kBound));
}

}  // namespace
