// Connection helpers shared by every communication endpoint: one attempt,
// retry loops with and without a time-out, and the connection log lines.
// The lines carry no file-and-line suffix.
#ifndef COMMUNICATION_CONNECT_H
#define COMMUNICATION_CONNECT_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

// `find` looks the service up and answers the found instance id (empty when
// none); `check` answers whether the endpoint is connected afterwards.
using ConnectFindFunction = std::function<std::string()>;
using ConnectCheckFunction = std::function<bool()>;
// Waits before the next attempt; false ends the loop without a connection
// (the owner is shutting down).
using ConnectWaitFunction = std::function<bool(std::chrono::milliseconds)>;

bool AttemptConnection(const std::string& name, const ConnectFindFunction& find, const ConnectCheckFunction& check);

// Retries until connected; never gives up.
void ConnectWithoutTimeout(const std::string& name, int32_t repetitionIntervalSeconds, const ConnectFindFunction& find,
                           const ConnectCheckFunction& check);

// The same loop with any interval (tests shrink it) and a wait that the owner
// can interrupt: true once connected, false when `wait` gave up.
bool ConnectWithoutTimeout(const std::string& name, std::chrono::milliseconds repetitionInterval,
                           const ConnectFindFunction& find, const ConnectCheckFunction& check,
                           const ConnectWaitFunction& wait);

// Retries until connected; throws std::exception once more than
// `timeoutSeconds` whole seconds have passed after a failed attempt.
void ConnectWithTimeout(const std::string& name, int32_t repetitionIntervalSeconds, int32_t timeoutSeconds,
                        const ConnectFindFunction& find, const ConnectCheckFunction& check);

void LogAsyncConnectStart(const std::string& name, const std::string& handleId);
void LogAsyncConnectStop(const std::string& name, const std::string& handleId);
void LogAsyncConnectSuccess(const std::string& name, const std::string& instanceId);
void LogSuccessOrFailure(bool success, const std::string& successText, const std::string& failureText);

#endif
