// Storage strategies: how a payload is transformed between its plain and its
// stored form. Every stored value starts with two equal bytes naming the
// strategy that was used.
#ifndef KIVLIBRARY_PERSISTENCY_STORAGESTRATEGY_H
#define KIVLIBRARY_PERSISTENCY_STORAGESTRATEGY_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class StorageStrategyType : uint8_t { SimpleStorageStrategy = 0 };

std::string ToString(StorageStrategyType type);

class StorageStrategy {
public:
    virtual ~StorageStrategy() = default;
    // Appends the stored form of the payload.
    virtual bool Encode(const std::vector<uint8_t>& payload, std::vector<uint8_t>& stored) = 0;
    // Makes the payload the plain form of the stored bytes.
    virtual bool Decode(std::vector<uint8_t>& payload, const std::vector<uint8_t> stored) = 0;
};

// Stores the payload unchanged.
class SimpleStoring : public StorageStrategy {
public:
    bool Encode(const std::vector<uint8_t>& payload, std::vector<uint8_t>& stored) override;
    bool Decode(std::vector<uint8_t>& payload, const std::vector<uint8_t> stored) override;
};

// Every type, known or not, is served by SimpleStoring.
std::shared_ptr<StorageStrategy> CreateStorageStrategy(StorageStrategyType type);

// Erases the two indicator bytes; false when no payload is left (or there
// were not two bytes to erase).
bool RemoveStrategyIndicator(std::vector<uint8_t>& stored);

#endif
