#include "KivLibrary/KivLibrary/ServiceKeeper.h"

#include "KivLibrary/Logger/Logging.h"

#include <mutex>
#include <utility>
#include <vector>

void KeepWhileProcessLives(std::shared_ptr<void> service, const std::string& name) {
    if (!service) {
        return;
    }
    // Never destroyed: not even the exit may free a service under its call.
    static std::mutex* const mutex = new std::mutex();
    static std::vector<std::shared_ptr<void>>* const kept = new std::vector<std::shared_ptr<void>>();
    LogError() << name << ": a call still runs after the withdrawal; the service is kept until the process ends"
               << VLMR_FILE_LINE;
    std::lock_guard<std::mutex> lock(*mutex);
    kept->push_back(std::move(service));
}
