#include "util/Errors.h"

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "TestUtil.h"

namespace {

TEST(ErrorBoxText, AppendsAPeriodAfterALetterOrMultiByteCharacter)
{
    EXPECT_EQ(ErrorBoxText("Disk error"), "Disk error.");
    EXPECT_EQ(ErrorBoxText("Incorrect Skin format."), "Incorrect Skin format.");
    EXPECT_EQ(ErrorBoxText("File not found"), "File not found.");
    EXPECT_EQ(ErrorBoxText("'1,5' は整数ではありません"), "'1,5' は整数ではありません.");
    EXPECT_EQ(ErrorBoxText("code 7"), "code 7.");
    EXPECT_EQ(ErrorBoxText("/"), "/.");
    EXPECT_EQ(ErrorBoxText(""), "");
}

TEST(ErrorBoxText, LeavesMessagesEndingAtOrBelowAPeriodAlone)
{
    for (const char* text : { "a.", "a,", "a-", "a)", "a!", "a ", "a\n", "(x)", "a\"" })
        EXPECT_EQ(ErrorBoxText(text), text) << text;
}

TEST(EInOutError, MapsErrnoValuesToRunTimeCodes)
{
    struct
    {
        int Errno;
        int Code;
        const char* Message;
    } const cases[] = {
        { ENOENT, 2, "File not found" },
        { ENOTDIR, 3, "Invalid file name" },
        { ENAMETOOLONG, 3, "Invalid file name" },
        { EMFILE, 4, "Too many open files" },
        { ENFILE, 4, "Too many open files" },
        { EACCES, 5, "File access denied" },
        { EPERM, 5, "File access denied" },
        { EROFS, 5, "File access denied" },
        { EISDIR, 5, "File access denied" },
        { ENOSPC, 101, "Disk full" },
        { EFBIG, 101, "Disk full" },
        // Without a table entry the errno itself is shown, even where its
        // number equals a table code (EIO is 5 here, like a denied access).
        { EIO, EIO, "I/O error (5)" },
        { EBUSY, EBUSY, "I/O error (16)" },
    };
    static_assert(EIO == 5 && EBUSY == 16, "errno numbers of this platform");
    for (const auto& c : cases) {
        const EInOutError e = EInOutError::FromErrno(c.Errno);
        EXPECT_EQ(e.ErrorCode(), c.Code) << c.Errno;
        EXPECT_EQ(e.Message(), c.Message) << c.Errno;
    }
}

TEST(EInOutError, MissingFileInMissingFolderIsABadPath)
{
    TScratchDir dir;
    EXPECT_EQ(EInOutError::FromErrno(ENOENT, dir.File("absent.obj")).ErrorCode(), IoFileNotFound);
    EXPECT_EQ(EInOutError::FromErrno(ENOENT, dir.File("no-such-folder/absent.obj")).ErrorCode(),
        IoPathNotFound);
    EXPECT_EQ(
        EInOutError::FromErrno(ENOENT, "absent-in-working-folder.obj").ErrorCode(), IoFileNotFound);
}

TEST(EInOutError, CarriesTheMessageOfItsCode)
{
    struct
    {
        int Code;
        const char* Message;
    } const cases[] = {
        { 2, "File not found" },
        { 3, "Invalid file name" },
        { 4, "Too many open files" },
        { 5, "File access denied" },
        { 100, "Read beyond end of file" },
        { 101, "Disk full" },
        { 106, "Invalid numeric input" },
        { 32, "I/O error (32)" },
    };
    for (const auto& c : cases) {
        const EInOutError e(c.Code);
        EXPECT_EQ(e.ErrorCode(), c.Code);
        EXPECT_STREQ(e.what(), c.Message);
        EXPECT_EQ(e.Message(), c.Message);
    }
}

TEST(EInOutError, RaisedFromErrnoThroughTheCommonBase)
{
    try {
        RaiseInOutError(ENOSPC);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Disk full");
        EXPECT_NE(dynamic_cast<const EInOutError*>(&e), nullptr);
    }
    EXPECT_THROW(RaiseInOutError(EIO), EInOutError);
}

TEST(Exception, FileNameMessagesAndTheWin32Text)
{
    EXPECT_EQ(FormatMessage("The file %s cannot be opened", "/tmp/a b.bmp"),
        "The file /tmp/a b.bmp cannot be opened");
    EXPECT_EQ(FormatMessage("no placeholder", "x"), "no placeholder");
    const EWin32Error e(8, "Not enough memory");
    EXPECT_EQ(e.Message(), "System error. Code: 8.\nNot enough memory");
    EXPECT_EQ(e.ErrorCode(), 8);
    const EFOpenError open("x");
    EXPECT_NE(dynamic_cast<const EStreamError*>(&open), nullptr);
}

} // namespace
