// The A/B partition type; stored as one raw byte in the database, so every
// byte value must be representable.
#ifndef KIVLIBRARY_PARTITIONHANDLER_PARTITIONENUM_H
#define KIVLIBRARY_PARTITIONHANDLER_PARTITIONENUM_H

#include <cstdint>
#include <string>

enum class PartitionEnum : uint8_t { A = 0, B = 1, UNKNOWN = 2, INVALID = 3 };

class IPartitionHandlerConfiguration;

std::string toString(PartitionEnum partition);
// One-letter text ("a"/"A", "b"/"B") to the enumeration; anything else UNKNOWN.
PartitionEnum PartitionFromString(const std::string& text);
PartitionEnum InvertPartition(PartitionEnum partition);
// A or B by the configured partition names, compared ignoring case; UNKNOWN
// (logged) when neither matches.
PartitionEnum GetPartition(const IPartitionHandlerConfiguration& configuration, const std::string& partitionName);

#endif
