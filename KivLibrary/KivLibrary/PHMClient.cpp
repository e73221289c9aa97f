#include "KivLibrary/KivLibrary/PHMClient.h"

std::shared_ptr<ApplicationAliveReporter> MakePHMClient(const std::string& instance, uint16_t defaultSupervisionId,
                                                        uint16_t defaultCheckpoint) {
    return std::make_shared<PHMClient<ara::phm::Phm_client, ara::phm::SupervisionEntity>>(
        instance, defaultSupervisionId, defaultCheckpoint);
}

std::shared_ptr<ApplicationAliveReporter> CreateAliveReporter(const std::string& instance) {
    return MakePHMClient(instance, 0, 0);
}
