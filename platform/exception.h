#pragma once
// The general exception base of the plug-in. Every failure that the core
// raises is one of these, with a message a user can act on.
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A file could not be opened, read, created or written. The message names the
// file and the cause.
class EFileError : public Exception {
public:
    using Exception::Exception;
};
