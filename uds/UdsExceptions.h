// Exceptions of the UDS message library. Every text starts with "UDS: ".
#ifndef UDS_UDSEXCEPTIONS_H
#define UDS_UDSEXCEPTIONS_H

#include <stdexcept>
#include <string>

namespace UDS {

class FramesException : public std::runtime_error {
public:
    explicit FramesException(const std::string& message) : std::runtime_error("UDS: " + message) {}
};

// A frame too short for the field an accessor reads, or a field it cannot represent.
class FrameSizeMismatchException : public FramesException {
public:
    FrameSizeMismatchException() : FramesException("Size mismatch for UDS Frame.") {}
};

// A value constructor was given an argument that cannot form a valid frame.
class InvalidArgumentException : public FramesException {
public:
    explicit InvalidArgumentException(const std::string& message) : FramesException(message) {}
};

}  // namespace UDS

#endif
