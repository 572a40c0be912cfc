#include "util/Errors.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>

#include "util/FileIO.h"
#include "util/Translate.h"

namespace {

const char* const SFileNotFound = N_("File not found");
const char* const SInvalidFileName = N_("Invalid file name");
const char* const STooManyOpenFiles = N_("Too many open files");
const char* const SAccessDenied = N_("File access denied");
const char* const SEndOfFile = N_("Read beyond end of file");
const char* const SDiskFull = N_("Disk full");
const char* const SInvalidInput = N_("Invalid numeric input");
const char* const SInOutError = N_("I/O error (%d)");
const char* const SWin32Error = N_("System error. Code: %d.");

std::string ReplaceNumber(const std::string& format, int n)
{
    std::string text = format;
    const auto at = text.find("%d");
    if (at != std::string::npos)
        text.replace(at, 2, std::to_string(n));
    return text;
}

// True when the folder that would hold path exists: "a/b/c" asks for "a/b",
// a bare name for the working folder.
bool ParentDirExists(const std::string& path)
{
    struct stat st;
    return ::stat(ParentFolder(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

namespace {

// The table code for an errno value, or 0 when it has no entry.
int TableCode(int errnoValue, const std::string& path)
{
    switch (errnoValue) {
    case ENOENT:
        return path.empty() || ParentDirExists(path) ? IoFileNotFound : IoPathNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
    case EILSEQ:
        return IoPathNotFound;
    case EMFILE:
    case ENFILE:
        return IoTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return IoAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return IoDiskFull;
    default:
        return 0;
    }
}

const char* TableMessage(int code)
{
    switch (code) {
    case IoFileNotFound:
        return Tr(SFileNotFound);
    case IoPathNotFound:
        return Tr(SInvalidFileName);
    case IoTooManyOpenFiles:
        return Tr(STooManyOpenFiles);
    case IoAccessDenied:
        return Tr(SAccessDenied);
    case IoReadPastEnd:
        return Tr(SEndOfFile);
    case IoDiskFull:
        return Tr(SDiskFull);
    case IoInvalidNumber:
        return Tr(SInvalidInput);
    default:
        return nullptr;
    }
}

} // namespace

EInOutError::EInOutError(int errorCode)
    : EInOutError(errorCode,
        TableMessage(errorCode) ? TableMessage(errorCode)
                                : ReplaceNumber(Tr(SInOutError), errorCode))
{
}

EInOutError::EInOutError(int errorCode, std::string message)
    : Exception(std::move(message))
    , FErrorCode(errorCode)
{
}

EInOutError EInOutError::FromErrno(int errnoValue, const std::string& path)
{
    const int code = TableCode(errnoValue, path);
    if (code != 0)
        return EInOutError(code);
    return EInOutError(errnoValue, ReplaceNumber(Tr(SInOutError), errnoValue));
}

void RaiseInOutError(int errnoValue, const std::string& path)
{
    throw EInOutError::FromErrno(errnoValue, path);
}

EWin32Error::EWin32Error(int code, const std::string& systemText)
    : Exception(ReplaceNumber(Tr(SWin32Error), code) + "\n" + systemText)
    , FErrorCode(code)
{
}

std::string FormatMessage(const std::string& format, const std::string& arg)
{
    std::string text = format;
    const auto at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, arg);
    return text;
}

std::string ErrorBoxText(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}
