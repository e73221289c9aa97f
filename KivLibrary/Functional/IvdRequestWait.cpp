// The first RequestDownload of a logical block waits here; kept beside the
// download handlers, which are what calls it.
#include "KivLibrary/GlobalLibrary/SessionDataAccess.h"
#include "KivLibrary/Helper/TerminationFlag.h"
#include "KivLibrary/KivLibrary/AutonomousCheck.h"

#include <chrono>
#include <thread>

uint32_t WaitForIvdRequestsToEnd(SessionDataAccess& session, const IvdRequestWaitSettings& settings) {
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + settings.maxWait;
    while ((!session.GetIvdRequestCluster().empty() || !session.GetIvdCancelCluster().empty()) &&
           !IsTerminationRequested() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(settings.pollInterval);
    }
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    return static_cast<uint32_t>((waited + 999) / 1000);
}
