#include "KivLibrary/Persistency/StorageStrategy.h"

#include "KivLibrary/Logger/Logging.h"

std::string ToString(StorageStrategyType type) {
    switch (type) {
        case StorageStrategyType::SimpleStorageStrategy:
            return "SimpleStorageStrategy";
    }
    return "< Unknown storage strategy type >";
}

bool SimpleStoring::Encode(const std::vector<uint8_t>& payload, std::vector<uint8_t>& stored) {
    stored.insert(stored.end(), payload.begin(), payload.end());
    return true;
}

bool SimpleStoring::Decode(std::vector<uint8_t>& payload, const std::vector<uint8_t> stored) {
    // The capacity after reserve() is only a lower bound, so it is not compared.
    payload.assign(stored.begin(), stored.end());
    return true;
}

std::shared_ptr<StorageStrategy> CreateStorageStrategy(StorageStrategyType /*type*/) {
    return std::make_shared<SimpleStoring>();
}

bool RemoveStrategyIndicator(std::vector<uint8_t>& stored) {
    constexpr std::size_t kIndicatorSize = 2;
    if (stored.size() <= kIndicatorSize) {
        stored.clear();
        LogError() << "Erasing storage strategy indicator failed!";
        return false;
    }
    stored.erase(stored.begin(), stored.begin() + kIndicatorSize);
    return true;
}
