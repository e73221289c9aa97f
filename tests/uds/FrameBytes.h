// Small helpers for building frames in the UDS tests.
#ifndef TESTS_UDS_FRAMEBYTES_H
#define TESTS_UDS_FRAMEBYTES_H

#include "uds/Message.h"

#include <cstdint>
#include <vector>

namespace udstest {

using Bytes = std::vector<uint8_t>;

inline UDS::Message MessageOf(Bytes bytes) { return UDS::Message(std::move(bytes)); }

}  // namespace udstest

#endif
