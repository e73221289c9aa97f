#include "sim/PackageBuilder.h"

#include "KivLibrary/GlobalLibrary/RFS.h"
#include "KivLibrary/Helper/ByteFormat.h"

#include <botan/auto_rng.h>
#include <botan/pubkey.h>
#include <botan/rsa.h>
#include <botan/x509_key.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <stdexcept>

namespace sim {

namespace {

constexpr const char* kPssPadding = "EMSA4(SHA-256,MGF1,32)";

// The callers have checked that the value fits 16 bits.
void PutUint16(Bytes& out, size_t value) {
    const Bytes bytes = Uint16ToBigEndian(static_cast<uint16_t>(value));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// "0005" -> "0004"; the record's versions are four decimal digits.
Version PreviousVersion(const Version& version) {
    uint32_t value = 0;
    for (uint8_t digit : version) {
        if (digit < '0' || digit > '9') {
            throw std::invalid_argument("downgrade needs a decimal RFS version");
        }
        value = value * 10 + (digit - '0');
    }
    if (value <= 1) {
        throw std::invalid_argument("no valid RFS version below 0001");
    }
    --value;
    Version previous{};
    for (size_t i = previous.size(); i-- > 0;) {
        previous[i] = static_cast<uint8_t>('0' + value % 10);
        value /= 10;
    }
    return previous;
}

uint8_t UnusedBlockId(const std::vector<BlockDefinition>& blocks, uint16_t dptBlockId) {
    for (uint16_t id = 0xFE; id > 0; --id) {
        const bool used =
            id == dptBlockId ||
            std::any_of(blocks.begin(), blocks.end(), [id](const BlockDefinition& block) { return block.id == id; });
        if (!used) {
            return static_cast<uint8_t>(id);
        }
    }
    throw std::invalid_argument("every block id is in use");
}

}  // namespace

PackageBuilder::PackageBuilder()
    : m_rng(std::make_unique<Botan::AutoSeeded_RNG>()),
      m_key(std::make_unique<Botan::RSA_PrivateKey>(*m_rng, kKeyBits)) {}

PackageBuilder::~PackageBuilder() = default;

PackageBuilder& PackageBuilder::AddBlock(const BlockDefinition& block) {
    m_blocks.push_back(block);
    return *this;
}

PackageBuilder& PackageBuilder::SetHardwareId(const HardwareId& hardwareId) {
    m_hardwareId = hardwareId;
    return *this;
}

PackageBuilder& PackageBuilder::SetDptBlockId(uint16_t id) {
    m_dptBlockId = id;
    return *this;
}

PackageBuilder& PackageBuilder::SetAddressWidth(size_t width) {
    if (width < 1 || width > 4) {
        throw std::invalid_argument("memoryAddress width must be 1 to 4 bytes");
    }
    m_addressWidth = width;
    return *this;
}

PackageBuilder& PackageBuilder::SetDefect(Defect defect) {
    m_defect = defect;
    return *this;
}

PackageBuilder& PackageBuilder::ClearBlocks() {
    m_blocks.clear();
    m_defect = Defect::kNone;
    return *this;
}

Package PackageBuilder::Build() const {
    if (m_blocks.empty()) {
        throw std::invalid_argument("a package needs at least one logical block");
    }
    Package package;
    for (const BlockDefinition& block : m_blocks) {
        package.blocks.push_back(MakeBlock(block.id, block.payload));
        package.configuredBlockIds.push_back(block.id);
        LogicalBlock installed;
        installed.m_id = block.id;
        installed.m_rfsMinVersion = block.rfsVersion;
        package.installedBlocks.push_back(installed);
    }

    std::vector<BlockDefinition> listed = m_blocks;
    std::vector<HardwareId> hardwareIds{m_hardwareId};
    switch (m_defect) {
        case Defect::kDuplicateBlock:
            listed.push_back(listed.front());
            break;
        case Defect::kUnknownBlock: {
            BlockDefinition unknown;
            unknown.id = UnusedBlockId(m_blocks, m_dptBlockId);
            listed.push_back(unknown);
            break;
        }
        case Defect::kDowngrade:
            listed.front().rfsVersion = PreviousVersion(listed.front().rfsVersion);
            break;
        case Defect::kUnknownHardwareId:
            for (uint8_t& byte : hardwareIds.front()) {
                byte = static_cast<uint8_t>(~byte);
            }
            break;
        default:
            break;
    }
    for (BlockDefinition& entry : listed) {
        entry.payload.clear();
    }

    Bytes record = BuildRecord(listed, hardwareIds);
    if (m_defect == Defect::kRecordTooShort) {
        record.pop_back();
    } else if (m_defect == Defect::kRecordTooLong) {
        record.push_back(0x00);
    }
    package.dpt = MakeBlock(m_dptBlockId, record);
    return package;
}

Bytes PackageBuilder::PublicKeyDer() const { return Botan::X509::BER_encode(*m_key); }

std::string PackageBuilder::PublicKeyPem() const { return Botan::X509::PEM_encode(*m_key); }

bool PackageBuilder::WritePublicKey(const std::string& path) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const std::string pem = PublicKeyPem();
    file.write(pem.data(), static_cast<std::streamsize>(pem.size()));
    file.close();
    return static_cast<bool>(file);
}

Bytes PackageBuilder::Sign(const Bytes& data) const {
    Botan::PK_Signer signer(*m_key, *m_rng, kPssPadding);
    return signer.sign_message(data, *m_rng);
}

Bytes PackageBuilder::BuildRecord(const std::vector<BlockDefinition>& blocks,
                                  const std::vector<HardwareId>& hardwareIds) {
    if (blocks.size() > std::numeric_limits<uint16_t>::max() ||
        hardwareIds.size() > std::numeric_limits<uint16_t>::max()) {
        throw std::invalid_argument("too many entries for the record's 16-bit counts");
    }
    Bytes record;
    PutUint16(record, RFS::kPtil);
    record.insert(record.end(), RFS::kPtid, RFS::kPtid + RFS::kPtil);
    PutUint16(record, blocks.size());
    for (const BlockDefinition& block : blocks) {
        record.push_back(block.id);
        record.insert(record.end(), block.rfsVersion.begin(), block.rfsVersion.end());
        record.insert(record.end(), block.f1abVersion.begin(), block.f1abVersion.end());
    }
    PutUint16(record, hardwareIds.size());
    for (const HardwareId& hardwareId : hardwareIds) {
        record.insert(record.end(), hardwareId.begin(), hardwareId.end());
    }
    return record;
}

Bytes PackageBuilder::BlockHeader(const Bytes& memoryAddress, uint32_t memorySize) {
    if (memoryAddress.empty() || memoryAddress.size() > 4) {
        throw std::invalid_argument("memoryAddress must have 1 to 4 bytes");
    }
    Bytes header(4 - memoryAddress.size(), 0x00);
    header.insert(header.end(), memoryAddress.begin(), memoryAddress.end());
    return AppendBytes(header, Uint32ToBigEndian(memorySize));
}

SignedBlock PackageBuilder::MakeBlock(uint16_t id, const Bytes& payload) const {
    if (payload.size() > std::numeric_limits<uint32_t>::max()) {
        throw std::invalid_argument("payload larger than a 32-bit memorySize");
    }
    if (m_addressWidth < 2 && id > 0xFF) {
        throw std::invalid_argument("block id does not fit the memoryAddress width");
    }
    SignedBlock block;
    for (size_t i = m_addressWidth; i-- > 0;) {
        block.memoryAddress.push_back(i < 2 ? static_cast<uint8_t>((id >> (8 * i)) & 0xFF) : 0x00);
    }
    block.memorySize = static_cast<uint32_t>(payload.size());
    block.payload = payload;
    block.stream = BlockHeader(block.memoryAddress, block.memorySize);
    block.stream.insert(block.stream.end(), payload.begin(), payload.end());
    Bytes signedBytes = block.stream;
    if (m_defect == Defect::kWrongSignature) {
        signedBytes.back() ^= 0x01;
    }
    block.signature = Sign(signedBytes);
    return block;
}

}  // namespace sim
