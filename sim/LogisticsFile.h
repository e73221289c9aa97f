// The text of one logistics json file as the build system installs it on a
// partition. Header-only, so test suites that do not link the simulation can
// write the same files. Not part of the product.
#ifndef SIM_LOGISTICSFILE_H
#define SIM_LOGISTICSFILE_H

#include <string>

namespace sim {

// The values are json fragments, so that a test can put a wrong type in.
struct LogisticsFile {
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

    LogisticsFile& Name(const std::string& text) {
        name = Quote(text);
        return *this;
    }
    LogisticsFile& Id(int value) {
        id = std::to_string(value);
        return *this;
    }
    LogisticsFile& AppSw(const std::string& text) {
        appSw = Quote(text);
        return *this;
    }
    LogisticsFile& BlockVersion(const std::string& text) {
        logicalBlock = Quote(text);
        return *this;
    }
    LogisticsFile& Revision(const std::string& text) {
        revision = Quote(text);
        return *this;
    }
    LogisticsFile& Rfs(const std::string& text) {
        rfs = Quote(text);
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

    // Plain text only: no escaping.
    static std::string Quote(const std::string& text) { return "\"" + text + "\""; }
};

}  // namespace sim

#endif
