// Test packages: signed logical blocks and the RFS/DPT record that announces
// them, as a tester would download them, plus each kind of broken package.
// Not part of the product.
#ifndef SIM_PACKAGEBUILDER_H
#define SIM_PACKAGEBUILDER_H

#include "KivLibrary/Persistency/DatabaseTypes.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Botan {
class Private_Key;
class RandomNumberGenerator;
}  // namespace Botan

namespace sim {

using Bytes = std::vector<uint8_t>;
using Version = std::array<uint8_t, 4>;
using HardwareId = std::array<uint8_t, 3>;

// One logical block of a package as its author describes it.
struct BlockDefinition {
    uint8_t id = 0;
    Bytes payload;
    Version rfsVersion{{'0', '0', '0', '1'}};  // listed in the record
    Version f1abVersion{{'0', '0', '0', '0'}};
};

// One block as it goes over the wire: RequestDownload announces memoryAddress
// and memorySize, TransferData carries payload, and the signature covers stream.
struct SignedBlock {
    Bytes memoryAddress;  // block id, big-endian
    uint32_t memorySize = 0;
    Bytes payload;
    Bytes stream;  // header (address right-aligned in 4 bytes, size big-endian) + payload
    Bytes signature;
};

struct Package {
    SignedBlock dpt;                  // payload = the RFS/DPT record
    std::vector<SignedBlock> blocks;  // in the order they were added
    // The configured block ids of a VM that accepts the package.
    std::vector<uint32_t> configuredBlockIds;
    // Stored records whose minimum RFS versions the package just satisfies.
    LogicalBlocks installedBlocks;
};

enum class Defect {
    kNone,
    kWrongSignature,     // every signature is well-formed but over other bytes
    kRecordTooShort,     // record loses its last byte
    kRecordTooLong,      // record gains one byte
    kDuplicateBlock,     // the first block is listed twice
    kUnknownBlock,       // an extra entry for a block no VM configures
    kDowngrade,          // the first block is listed one version below its installed minimum
    kUnknownHardwareId,  // the record lists another hardware id only
};

class PackageBuilder {
public:
    static constexpr uint16_t kDefaultDptBlockId = 15;
    static constexpr size_t kDefaultAddressWidth = 2;
    static constexpr size_t kKeyBits = 3072;

    // Generates a fresh RSA key pair.
    PackageBuilder();
    ~PackageBuilder();
    PackageBuilder(const PackageBuilder&) = delete;
    PackageBuilder& operator=(const PackageBuilder&) = delete;

    PackageBuilder& AddBlock(const BlockDefinition& block);
    PackageBuilder& SetHardwareId(const HardwareId& hardwareId);
    PackageBuilder& SetDptBlockId(uint16_t id);
    // Number of memoryAddress bytes, 1 to 4.
    PackageBuilder& SetAddressWidth(size_t width);
    PackageBuilder& SetDefect(Defect defect);
    // Forgets the blocks and the defect, so that one key signs several packages.
    PackageBuilder& ClearBlocks();

    // Throws std::invalid_argument for a package that cannot be described
    // (no block, a downgrade below "0001").
    Package Build() const;

    // X.509 SubjectPublicKeyInfo.
    Bytes PublicKeyDer() const;
    std::string PublicKeyPem() const;
    // Writes the PEM form; false when the file cannot be written.
    bool WritePublicKey(const std::string& path) const;

    // RSA-PSS, SHA-256, MGF1-SHA-256, salt 32 over the bytes.
    Bytes Sign(const Bytes& data) const;

    static Bytes BuildRecord(const std::vector<BlockDefinition>& blocks, const std::vector<HardwareId>& hardwareIds);
    static Bytes BlockHeader(const Bytes& memoryAddress, uint32_t memorySize);

private:
    SignedBlock MakeBlock(uint16_t id, const Bytes& payload) const;

    std::unique_ptr<Botan::RandomNumberGenerator> m_rng;
    std::unique_ptr<Botan::Private_Key> m_key;
    std::vector<BlockDefinition> m_blocks;
    HardwareId m_hardwareId{{'H', 'W', '1'}};
    uint16_t m_dptBlockId = kDefaultDptBlockId;
    size_t m_addressWidth = kDefaultAddressWidth;
    Defect m_defect = Defect::kNone;
};

}  // namespace sim

#endif
