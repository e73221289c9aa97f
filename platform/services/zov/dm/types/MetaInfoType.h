// The meta-information that the diagnostic manager passes with every request
// (for example "ProtocolId", the instance of the tester's conversation).
#ifndef PLATFORM_SERVICES_ZOV_DM_TYPES_METAINFOTYPE_H
#define PLATFORM_SERVICES_ZOV_DM_TYPES_METAINFOTYPE_H

#include <map>
#include <string>

namespace zov {
namespace dm {
namespace types {

using MetaInfoType = std::map<std::string, std::string>;

}  // namespace types
}  // namespace dm
}  // namespace zov

#endif
