// Failures of every unit are exceptions derived from Exception. Each class
// carries its message in UTF-8; the front ends show it through ErrorBoxText.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception
{
public:
    explicit Exception(std::string message)
        : FMessage(std::move(message))
    {
    }
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }

    // Where in an input file the failure was found: the file, and the
    // 1-based line, or 0 when it concerns the file as a whole. The readers
    // set it on the way out; a place set first (nearer the failure) stays.
    void SetPlace(const std::string& File, std::uint64_t Line)
    {
        if (!FPlaceFile.empty())
            return;
        FPlaceFile = File;
        FPlaceLine = Line;
    }
    bool HasPlace() const noexcept { return !FPlaceFile.empty(); }
    const std::string& PlaceFile() const noexcept { return FPlaceFile; }
    std::uint64_t PlaceLine() const noexcept { return FPlaceLine; }

private:
    std::string FMessage;
    std::string FPlaceFile;
    std::uint64_t FPlaceLine = 0;
};

#define TARVEX_EXCEPTION_CLASS(Name)                                                               \
    class Name : public Exception                                                                  \
    {                                                                                              \
    public:                                                                                        \
        using Exception::Exception;                                                                \
    };

TARVEX_EXCEPTION_CLASS(EConvertError)
TARVEX_EXCEPTION_CLASS(EStreamError)
TARVEX_EXCEPTION_CLASS(EInvalidGraphic)
TARVEX_EXCEPTION_CLASS(EInvalidGraphicOperation)
TARVEX_EXCEPTION_CLASS(ERangeError)
TARVEX_EXCEPTION_CLASS(EOutOfResources)
TARVEX_EXCEPTION_CLASS(EInvalidOperation)

// The stream errors share a base so that a caller may catch any of them.
#define TARVEX_STREAM_ERROR_CLASS(Name)                                                            \
    class Name : public EStreamError                                                               \
    {                                                                                              \
    public:                                                                                        \
        using EStreamError::EStreamError;                                                          \
    };

TARVEX_STREAM_ERROR_CLASS(EFOpenError)
TARVEX_STREAM_ERROR_CLASS(EFCreateError)
TARVEX_STREAM_ERROR_CLASS(EReadError)
TARVEX_STREAM_ERROR_CLASS(EWriteError)

#undef TARVEX_STREAM_ERROR_CLASS
#undef TARVEX_EXCEPTION_CLASS

// Run-time I/O codes, as the user sees them in the error box.
enum : int {
    IoFileNotFound = 2,
    IoPathNotFound = 3,
    IoTooManyOpenFiles = 4,
    IoAccessDenied = 5,
    IoReadPastEnd = 100,
    IoDiskFull = 101,
    IoInvalidNumber = 106,
};

// A failed open, read, write or close of a run-time file.
class EInOutError : public Exception
{
public:
    // A run-time code with the message of its table entry ("I/O error (n)"
    // for a code without one).
    explicit EInOutError(int errorCode);
    // The error of a failed call that set errno. Path, when given, is the file
    // the call named: a missing file whose folder is missing too counts as a
    // bad path (3) rather than a missing file (2). An errno without a table
    // entry keeps its own number, so EIO reads "I/O error (5)" even though 5
    // is also the code of a denied access.
    static EInOutError FromErrno(int errnoValue, const std::string& path = std::string());
    // A code with a message of the program's own.
    EInOutError(int errorCode, std::string message);
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// Shorthand for throwing EInOutError::FromErrno.
[[noreturn]] void RaiseInOutError(int errnoValue, const std::string& path = std::string());

class EWin32Error : public Exception
{
public:
    EWin32Error(int code, const std::string& systemText);
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// Replaces the first "%s" in format with arg; the file-name messages use it.
std::string FormatMessage(const std::string& format, const std::string& arg);

// The text of the error box: the message, with "." appended when it is not
// empty and its last byte sorts after ".". Every front end shows failures so.
std::string ErrorBoxText(const std::string& message);
