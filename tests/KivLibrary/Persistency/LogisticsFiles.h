// Logistics json files of a partition in a sandbox, and a session whose
// configuration names the two partitions' logistics directories there.
#ifndef TESTS_KIVLIBRARY_PERSISTENCY_LOGISTICSFILES_H
#define TESTS_KIVLIBRARY_PERSISTENCY_LOGISTICSFILES_H

#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "sim/LogisticsFile.h"
#include "tests/KivLibrary/GlobalLibrary/SessionDataDoubles.h"
#include "tests/support/Sandbox.h"

#include <memory>
#include <string>

namespace logisticstest {

using Logistics = sim::LogisticsFile;

constexpr const char* kActiveDir = "logistics/A/json";
constexpr const char* kInactiveDir = "logistics/B/json";

inline std::shared_ptr<KivConfiguration> MakeLogisticsConfiguration(const testsupport::Sandbox& box) {
    auto configuration = sessiontest::MakeConfiguration(box);
    configuration->activeLogisticsPath = box.Path(kActiveDir);
    configuration->inactiveLogisticsPath = box.Path(kInactiveDir);
    return configuration;
}

inline std::string WriteLogistics(const testsupport::Sandbox& box, const std::string& dir, const std::string& file,
                                  const Logistics& logistics) {
    return box.WriteFile(dir + "/" + file, logistics.Text());
}

}  // namespace logisticstest

#endif
