// Lays out, in one root directory, everything the process reads at start-up,
// so the real code runs against a complete simulated ECU. The root is meant to
// be the host root of the run (VELMORA_ROOT): the "/sys/swupd/" peer files and
// the database go below it through HostPath, while the configuration names
// its files by absolute paths that already point below the root.
// Not part of the product.
#ifndef SIM_SANDBOXBUILDER_H
#define SIM_SANDBOXBUILDER_H

#include "KivLibrary/PartitionHandler/PartitionEnum.h"
#include "sim/LogisticsFile.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// File name in the partition's logistics directory, and its content.
using NamedLogisticsFile = std::pair<std::string, LogisticsFile>;

class SandboxBuilder {
public:
    static constexpr const char* kConfigurationPath = "/etc/velmora/velmora_config.json";
    static constexpr const char* kDefaultHostname = "vm_adaptive";
    static constexpr uint8_t kHardwareId[3] = {'H', 'W', '1'};
    static constexpr uint8_t kFingerprintSerial[6] = {'T', 'S', '0', '0', '4', '2'};
    static constexpr uint8_t kFingerprintDate[3] = {0x24, 0x05, 0x17};
    static constexpr const char* kSmackRuleFile = "velmora.smack";

    // Reads the configuration template (the shipped sample by default) at
    // once; throws std::runtime_error when it cannot be read or parsed.
    explicit SandboxBuilder(std::string root, const std::string& configurationTemplate = ShippedConfigurationPath());

    static std::string ShippedConfigurationPath();

    // The host in "hostname=" of the kernel command line; it selects the
    // configured logical blocks.
    SandboxBuilder& SetHostname(const std::string& hostname);
    // Written to "global_ab_flag=" and to every sysfs flag file.
    SandboxBuilder& SetActivePartition(PartitionEnum partition);
    // Replaces the partition's default files (one per configured block).
    SandboxBuilder& SetLogistics(PartitionEnum partition, std::vector<NamedLogisticsFile> files);
    // Without one, the key of a process-wide PackageBuilder is written.
    SandboxBuilder& SetPublicKeyPem(const std::string& pem);

    // Each throws std::runtime_error when a file cannot be written.
    void WriteAll() const;
    void WriteConfiguration() const;
    void WriteKernelCommandLine() const;
    void WriteSysfsFlags() const;
    // Replaces both logistics directories as a whole.
    void WriteLogistics() const;
    void WritePublicKey() const;
    // The RT side's "rcar_" files (valid magic and version, programming
    // allowed) and the directory of the VM's own "vm_" files.
    void WritePeerFiles() const;
    // In each partition: the SMACK staging source with one rule file
    // (kSmackRuleFile) and an empty destination.
    void WriteSmackDirectories() const;

    const std::string& Root() const { return m_root; }
    // The sandbox location of an absolute system path.
    std::string PathOf(const std::string& systemPath) const;
    std::string ConfigPath() const { return PathOf(kConfigurationPath); }
    std::string PublicKeyPath() const;
    std::string KernelCommandLinePath() const;
    // As the partition detection derives it: root, partition name, data folder.
    std::string LogisticsDirectory(PartitionEnum partition) const;
    std::string PartitionName(PartitionEnum partition) const;
    // As SmackHandler builds it: logistics root, upper-case partition name,
    // the "SmackStaging" entry `key` ("src_dir" or "dst_dir"), "/".
    std::string SmackDirectory(PartitionEnum partition, const std::string& key) const;
    const std::string& Hostname() const { return m_hostname; }
    PartitionEnum ActivePartition() const { return m_activePartition; }
    // The configured logical blocks of the host; empty for an unknown host.
    std::vector<uint32_t> FlashBlocks() const;
    std::vector<NamedLogisticsFile> Logistics(PartitionEnum partition) const;
    // The files of Logistics(partition), in its order, with the contents they
    // have on disk now: an installation rewrites a partition's files. A file
    // that is missing or does not parse keeps the laid-out content.
    std::vector<NamedLogisticsFile> ReadLogistics(PartitionEnum partition) const;
    // One file per configured block; the partitions differ in their versions.
    std::vector<NamedLogisticsFile> DefaultLogistics(PartitionEnum partition) const;

private:
    std::string ConfigString(const std::string& section, const std::string& key) const;
    std::string ConfiguredPath(const std::string& section, const std::string& key) const;
    std::vector<std::string> SysfsFlagFiles() const;

    std::string m_root;
    // The template as read, paths not yet moved below the root.
    nlohmann::json m_template;
    std::string m_hostname = kDefaultHostname;
    PartitionEnum m_activePartition = PartitionEnum::A;
    std::map<PartitionEnum, std::vector<NamedLogisticsFile>> m_logistics;
    std::string m_publicKeyPem;
};

}  // namespace sim

#endif
