#pragma once
// The exception base of the program and its common subclasses. `Exception`, `EConvertError` and
// `EOSError` play the part of the run-time library's classes; everything the network code raises
// derives from `EIdException` and carries a fixed English message.

#include <cstdint>
#include <exception>
#include <string>

#include "base/Text.h"

class Exception : public std::exception {
public:
    explicit Exception(std::u16string message) : message_(std::move(message)), utf8_(TextToUtf8(message_)) {}
    explicit Exception(std::string_view asciiMessage) : Exception(AsciiToText(asciiMessage)) {}
    const std::u16string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::u16string message_;
    std::string utf8_;
};

// Declares an exception class that only adds its own type to the hierarchy.
#define BG_DECLARE_EXCEPTION(Name, Base)                                                                     \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        using Base::Base;                                                                                    \
    }

BG_DECLARE_EXCEPTION(EConvertError, Exception);
BG_DECLARE_EXCEPTION(EIdException, Exception);

// A failure of the operating system outside the socket numbering (errno kept as its code).
class EOSError : public Exception {
public:
    EOSError(int32_t errorCode, std::u16string message)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    int32_t ErrorCode() const noexcept { return errorCode_; }

private:
    int32_t errorCode_;
};
