// Logistics json files of a partition in a sandbox, and a session whose
// configuration names the two partitions' logistics directories there.
#ifndef TESTS_KIVLIBRARY_PERSISTENCY_LOGISTICSFILES_H
#define TESTS_KIVLIBRARY_PERSISTENCY_LOGISTICSFILES_H

#include "KivLibrary/GlobalLibrary/SessionData.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "tests/KivLibrary/GlobalLibrary/SessionDataDoubles.h"
#include "tests/support/Sandbox.h"

#include <memory>
#include <string>

namespace logisticstest {

// The values are json fragments, so that a test can put a wrong type in.
struct Logistics {
    std::string name = "\"cluster\"";
    std::string id = "1";
    std::string major = "2";
    std::string rfs = "\"0002\"";
    std::string logicalBlock = "\"0100\"";
    std::string appSw = "\"0100\"";
    std::string odxIdentifier = "\"ODX_ID\"";
    std::string odxFileVersion = "\"010203\"";
    std::string projectData = "\"0a0b\"";
    std::string sparePartNumber = "\"SPN\"";
    std::string revision = "\"rev\"";
    bool withAdditionalInformation = true;

    Logistics& Name(const std::string& text) {
        name = "\"" + text + "\"";
        return *this;
    }
    Logistics& Id(int value) {
        id = std::to_string(value);
        return *this;
    }
    Logistics& AppSw(const std::string& text) {
        appSw = "\"" + text + "\"";
        return *this;
    }
    Logistics& Revision(const std::string& text) {
        revision = "\"" + text + "\"";
        return *this;
    }
    Logistics& Rfs(const std::string& text) {
        rfs = "\"" + text + "\"";
        return *this;
    }

    std::string Text() const {
        std::string text =
            "{\n  \"ZenqLogistics\": {\n    \"Name\": " + name + ",\n    \"ID\": " + id +
            ",\n    \"ASAM_ODX_Identifier\": " + odxIdentifier + ",\n    \"ASAM_ODX_FileVersion\": " + odxFileVersion +
            ",\n    \"KSVProjectData\": " + projectData + ",\n    \"SparePartNumber\": " + sparePartNumber +
            ",\n    \"VersionInfo\": {\n      \"AppSW\": " + appSw + ",\n      \"Major\": " + major +
            ",\n      \"RFS\": " + rfs + ",\n      \"LogicalBlock\": " + logicalBlock + "\n    }\n  }";
        if (withAdditionalInformation) {
            text += ",\n  \"AdditionalInformation\": {\"RevisionString\": " + revision + "}";
        }
        return text + "\n}\n";
    }
};

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
