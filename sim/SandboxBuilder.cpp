#include "sim/SandboxBuilder.h"

#include "KivLibrary/GlobalLibrary/SharedMemoryInterface.h"
#include "sim/PackageBuilder.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#ifndef VELMORA_SOURCE_DIR
#error "VELMORA_SOURCE_DIR must name the source tree"
#endif

namespace sim {

namespace fs = std::filesystem;

namespace {

using Json = nlohmann::json;

void WriteFile(const std::string& path, const std::string& content) {
    std::error_code error;
    fs::create_directories(fs::path(path).parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("SandboxBuilder: cannot write " + path);
    }
}

void MakeDirectory(const std::string& path) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error) {
        throw std::runtime_error("SandboxBuilder: cannot create " + path + ": " + error.message());
    }
}

template <size_t N>
std::string AsText(const uint8_t (&bytes)[N]) {
    return std::string(reinterpret_cast<const char*>(bytes), N);
}

// Every absolute path of the configuration names a file of the system; moved
// below the root, the run touches nothing outside its sandbox.
void MovePathsBelow(Json& value, const std::string& root) {
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (!text.empty() && text.front() == '/') {
            value = root + text;
        }
        return;
    }
    if (value.is_object() || value.is_array()) {
        for (Json& item : value) {
            MovePathsBelow(item, root);
        }
    }
}

// Key generation takes a while; one key serves every sandbox of a process.
const std::string& SharedPublicKeyPem() {
    static const std::string pem = PackageBuilder().PublicKeyPem();
    return pem;
}

}  // namespace

SandboxBuilder::SandboxBuilder(std::string root, const std::string& configurationTemplate) : m_root(std::move(root)) {
    std::ifstream in(configurationTemplate, std::ios::binary);
    if (!in.is_open()) {
        throw std::runtime_error("SandboxBuilder: cannot open configuration template " + configurationTemplate);
    }
    try {
        m_template = Json::parse(in);
    } catch (const Json::exception& e) {
        throw std::runtime_error("SandboxBuilder: configuration template " + configurationTemplate +
                                 " is not json: " + e.what());
    }
    if (!m_template.is_object()) {
        throw std::runtime_error("SandboxBuilder: configuration template " + configurationTemplate +
                                 " is not a json object");
    }
}

std::string SandboxBuilder::ShippedConfigurationPath() {
    return std::string(VELMORA_SOURCE_DIR) + "/config/velmora_config.json";
}

SandboxBuilder& SandboxBuilder::SetHostname(const std::string& hostname) {
    m_hostname = hostname;
    return *this;
}

SandboxBuilder& SandboxBuilder::SetActivePartition(PartitionEnum partition) {
    if (partition != PartitionEnum::A && partition != PartitionEnum::B) {
        throw std::invalid_argument("SandboxBuilder: the active partition is A or B");
    }
    m_activePartition = partition;
    return *this;
}

SandboxBuilder& SandboxBuilder::SetLogistics(PartitionEnum partition, std::vector<NamedLogisticsFile> files) {
    m_logistics[partition] = std::move(files);
    return *this;
}

SandboxBuilder& SandboxBuilder::SetPublicKeyPem(const std::string& pem) {
    m_publicKeyPem = pem;
    return *this;
}

// ---- layout -------------------------------------------------------------------

std::string SandboxBuilder::PathOf(const std::string& systemPath) const {
    if (!systemPath.empty() && systemPath.front() == '/') {
        return m_root + systemPath;
    }
    return m_root + "/" + systemPath;
}

std::string SandboxBuilder::ConfigString(const std::string& section, const std::string& key) const {
    const Json* value = &m_template;
    if (!section.empty()) {
        if (!m_template.contains(section) || !m_template[section].is_object()) {
            throw std::runtime_error("SandboxBuilder: configuration template has no section " + section);
        }
        value = &m_template[section];
    }
    if (!value->contains(key) || !(*value)[key].is_string()) {
        throw std::runtime_error("SandboxBuilder: configuration template has no text " + key);
    }
    return (*value)[key].get<std::string>();
}

std::string SandboxBuilder::ConfiguredPath(const std::string& section, const std::string& key) const {
    return PathOf(ConfigString(section, key));
}

std::string SandboxBuilder::PublicKeyPath() const { return ConfiguredPath("", "Public_key_path"); }

std::string SandboxBuilder::KernelCommandLinePath() const {
    return ConfiguredPath("ab_scheme_settings", "global_ab_flag_file");
}

std::string SandboxBuilder::PartitionName(PartitionEnum partition) const {
    return ConfigString("ab_scheme_settings", partition == PartitionEnum::B ? "partition_b_name" : "partition_a_name");
}

std::string SandboxBuilder::LogisticsDirectory(PartitionEnum partition) const {
    return ConfiguredPath("zenq_logistics_settings", "logistics_root_path") + "/" + PartitionName(partition) + "/" +
           ConfigString("zenq_logistics_settings", "logistics_data_folder") + "/";
}

std::vector<uint32_t> SandboxBuilder::FlashBlocks() const {
    const Json& vms = m_template.at("ConfiguredLogicalBlocks").at("VMs");
    for (const Json& vm : vms) {
        if (vm.at("Name").get<std::string>() == m_hostname) {
            return vm.at("FlashBlocks").get<std::vector<uint32_t>>();
        }
    }
    return {};
}

std::vector<std::string> SandboxBuilder::SysfsFlagFiles() const {
    const Json& sysfs = m_template.at("SysfsSettings");
    std::vector<std::string> files{PathOf(sysfs.at("SysfsGlobalABFlagFile").get<std::string>())};
    for (const Json& entry : sysfs.at("SysfsMapping")) {
        files.push_back(PathOf(entry.at("SysfsFile").get<std::string>()));
    }
    return files;
}

std::vector<NamedLogisticsFile> SandboxBuilder::DefaultLogistics(PartitionEnum partition) const {
    const std::string version = partition == PartitionEnum::B ? "0102" : "0101";
    std::vector<NamedLogisticsFile> files;
    for (const uint32_t id : FlashBlocks()) {
        const std::string cluster = m_hostname + "_lb" + std::to_string(id);
        LogisticsFile file;
        file.Name(cluster)
            .Id(static_cast<int>(id))
            .AppSw(version)
            .BlockVersion(version)
            .Rfs("0001")
            .Revision("rev_" + PartitionName(partition) + "_" + version);
        files.emplace_back("ZenqLogistics_" + cluster + ".json", file);
    }
    return files;
}

std::vector<NamedLogisticsFile> SandboxBuilder::Logistics(PartitionEnum partition) const {
    const auto chosen = m_logistics.find(partition);
    return chosen != m_logistics.end() ? chosen->second : DefaultLogistics(partition);
}

std::vector<NamedLogisticsFile> SandboxBuilder::ReadLogistics(PartitionEnum partition) const {
    std::vector<NamedLogisticsFile> files = Logistics(partition);
    const std::string directory = LogisticsDirectory(partition);
    for (NamedLogisticsFile& file : files) {
        std::ifstream in(directory + file.first);
        const Json text = Json::parse(in, nullptr, false);
        if (!text.is_object() || !text.contains("ZenqLogistics")) {
            continue;
        }
        // Fragments as found, so that whatever the writer put there survives.
        const auto fragment = [](const Json& object, const char* key, std::string& into) {
            if (object.is_object() && object.contains(key)) {
                into = object.at(key).dump();
            }
        };
        LogisticsFile& read = file.second;
        const Json& logistics = text.at("ZenqLogistics");
        fragment(logistics, "Name", read.name);
        fragment(logistics, "ID", read.id);
        fragment(logistics, "ASAM_ODX_Identifier", read.odxIdentifier);
        fragment(logistics, "ASAM_ODX_FileVersion", read.odxFileVersion);
        fragment(logistics, "KSVProjectData", read.projectData);
        fragment(logistics, "SparePartNumber", read.sparePartNumber);
        if (logistics.contains("VersionInfo")) {
            const Json& versions = logistics.at("VersionInfo");
            fragment(versions, "AppSW", read.appSw);
            fragment(versions, "Major", read.major);
            fragment(versions, "RFS", read.rfs);
            fragment(versions, "LogicalBlock", read.logicalBlock);
        }
        read.withAdditionalInformation = text.contains("AdditionalInformation");
        if (read.withAdditionalInformation) {
            fragment(text.at("AdditionalInformation"), "RevisionString", read.revision);
        }
    }
    return files;
}

// ---- writing ------------------------------------------------------------------

void SandboxBuilder::WriteAll() const {
    WriteConfiguration();
    WriteKernelCommandLine();
    WriteSysfsFlags();
    WriteLogistics();
    WritePublicKey();
    WritePeerFiles();
    WriteSmackDirectories();
}

void SandboxBuilder::WriteSmackDirectories() const {
    for (PartitionEnum partition : {PartitionEnum::A, PartitionEnum::B}) {
        WriteFile(SmackDirectory(partition, "src_dir") + kSmackRuleFile, "velmora_t velmora_data_t rwx\n" +
                                                                             std::string("# staged from partition ") +
                                                                             PartitionName(partition) + "\n");
        MakeDirectory(SmackDirectory(partition, "dst_dir"));
    }
}

std::string SandboxBuilder::SmackDirectory(PartitionEnum partition, const std::string& key) const {
    std::string name = PartitionName(partition);
    for (char& c : name) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return ConfiguredPath("zenq_logistics_settings", "logistics_root_path") + "/" + name + "/" +
           ConfigString("SmackStaging", key) + "/";
}

void SandboxBuilder::WriteConfiguration() const {
    Json configuration = m_template;
    MovePathsBelow(configuration, m_root);
    // The staging directories name places inside each partition's logistics
    // tree (SmackHandler prefixes them), not system paths.
    if (m_template.contains("SmackStaging")) {
        configuration["SmackStaging"] = m_template["SmackStaging"];
    }
    WriteFile(ConfigPath(), configuration.dump(4) + "\n");
}

void SandboxBuilder::WriteKernelCommandLine() const {
    WriteFile(KernelCommandLinePath(), "console=ttyAMA0 root=/dev/vda2 ro hostname=" + m_hostname +
                                           " global_ab_flag=" + PartitionName(m_activePartition) + " quiet\n");
}

void SandboxBuilder::WriteSysfsFlags() const {
    for (const std::string& file : SysfsFlagFiles()) {
        WriteFile(file, PartitionName(m_activePartition) + "\n");
    }
}

void SandboxBuilder::WriteLogistics() const {
    for (const PartitionEnum partition : {PartitionEnum::A, PartitionEnum::B}) {
        const std::string directory = LogisticsDirectory(partition);
        std::error_code error;
        fs::remove_all(directory, error);
        MakeDirectory(directory);
        for (const NamedLogisticsFile& file : Logistics(partition)) {
            WriteFile(directory + file.first, file.second.Text());
        }
    }
}

void SandboxBuilder::WritePublicKey() const {
    WriteFile(PublicKeyPath(), m_publicKeyPem.empty() ? SharedPublicKeyPem() : m_publicKeyPem);
}

void SandboxBuilder::WritePeerFiles() const {
    using Shm = SharedMemoryInterface;
    const uint32_t version = Shm::kInterfaceVersion;
    std::string versionBytes(sizeof(version), '\0');
    std::memcpy(&versionBytes[0], &version, sizeof(version));
    WriteFile(PathOf(Shm::kRcarMagicPath), Shm::kRcarMagicValid);
    WriteFile(PathOf(Shm::kRcarVersionPath), versionBytes);
    WriteFile(PathOf(Shm::kRcarStatusPath), Shm::kRcarProgAllowed);
    WriteFile(PathOf(Shm::kRcarFingerprintSerialPath), AsText(kFingerprintSerial));
    WriteFile(PathOf(Shm::kRcarFingerprintDatePath), AsText(kFingerprintDate));
    WriteFile(PathOf(Shm::kRcarHardwareIdPath), AsText(kHardwareId));
}

}  // namespace sim
