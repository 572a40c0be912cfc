#include "util/Errors.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>

#include "util/FileIO.h"

namespace {

const char* const SFileNotFound = "ファイルが見つかりません";
const char* const SInvalidFileName = "不正なファイル名です";
const char* const STooManyOpenFiles = "オープンしたファイルが多すぎます";
const char* const SAccessDenied = "ファイルへのアクセスが拒否されました";
const char* const SEndOfFile = "ファイルの末尾以降を読み込みました";
const char* const SDiskFull = "ディスクがいっぱいです";
const char* const SInvalidInput = "入力値が数値ではありません";
const char* const SInOutError = "I/O エラー (%d)";
const char* const SWin32Error = "Win32 エラー。コード : %d.";

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
        return SFileNotFound;
    case IoPathNotFound:
        return SInvalidFileName;
    case IoTooManyOpenFiles:
        return STooManyOpenFiles;
    case IoAccessDenied:
        return SAccessDenied;
    case IoReadPastEnd:
        return SEndOfFile;
    case IoDiskFull:
        return SDiskFull;
    case IoInvalidNumber:
        return SInvalidInput;
    default:
        return nullptr;
    }
}

} // namespace

EInOutError::EInOutError(int errorCode)
    : EInOutError(errorCode,
        TableMessage(errorCode) ? TableMessage(errorCode) : ReplaceNumber(SInOutError, errorCode))
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
    return EInOutError(errnoValue, ReplaceNumber(SInOutError, errnoValue));
}

void RaiseInOutError(int errnoValue, const std::string& path)
{
    throw EInOutError::FromErrno(errnoValue, path);
}

EWin32Error::EWin32Error(int code, const std::string& systemText)
    : Exception(ReplaceNumber(SWin32Error, code) + "\n" + systemText)
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
