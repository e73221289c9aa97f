#include "KivLibrary/PartitionHandler/PartitionEnum.h"

#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/PartitionHandler/IPartitionHandlerConfiguration.h"

std::string toString(PartitionEnum partition) {
    switch (partition) {
        case PartitionEnum::A:
            return "A";
        case PartitionEnum::B:
            return "B";
        case PartitionEnum::UNKNOWN:
            return "UNKNOWN";
        case PartitionEnum::INVALID:
            return "INVALID";
    }
    return "Invalid PartitionEnum value=" + std::to_string(static_cast<unsigned>(partition));
}

PartitionEnum PartitionFromString(const std::string& text) {
    if (text == "a" || text == "A") {
        return PartitionEnum::A;
    }
    if (text == "b" || text == "B") {
        return PartitionEnum::B;
    }
    return PartitionEnum::UNKNOWN;
}

PartitionEnum InvertPartition(PartitionEnum partition) {
    switch (partition) {
        case PartitionEnum::A:
            return PartitionEnum::B;
        case PartitionEnum::B:
            return PartitionEnum::A;
        case PartitionEnum::UNKNOWN:
            LogError() << "InvertPartition"
                       << ": Inverted partition=" << toString(partition) << VLMR_FILE_LINE;
            return PartitionEnum::UNKNOWN;
        default:
            LogError() << "InvertPartition"
                       << ": Can't invert [in] partition=" << toString(partition) << VLMR_FILE_LINE;
            return PartitionEnum::INVALID;
    }
}

PartitionEnum GetPartition(const IPartitionHandlerConfiguration& configuration, const std::string& partitionName) {
    // A is tested first: names differing only in case always give A.
    if (EqualsIgnoringAsciiCase(configuration.GetPartitionAName(), partitionName)) {
        return PartitionEnum::A;
    }
    if (EqualsIgnoringAsciiCase(configuration.GetPartitionBName(), partitionName)) {
        return PartitionEnum::B;
    }
    LogError() << "GetPartition: UNKNOWN [in] partitionName='" << partitionName << "'" << VLMR_FILE_LINE;
    return PartitionEnum::UNKNOWN;
}
