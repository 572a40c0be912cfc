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
    EXPECT_EQ(ErrorBoxText("ファイルが見つかりません"), "ファイルが見つかりません.");
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
        { ENOENT, 2, "ファイルが見つかりません" },
        { ENOTDIR, 3, "不正なファイル名です" },
        { ENAMETOOLONG, 3, "不正なファイル名です" },
        { EMFILE, 4, "オープンしたファイルが多すぎます" },
        { ENFILE, 4, "オープンしたファイルが多すぎます" },
        { EACCES, 5, "ファイルへのアクセスが拒否されました" },
        { EPERM, 5, "ファイルへのアクセスが拒否されました" },
        { EROFS, 5, "ファイルへのアクセスが拒否されました" },
        { EISDIR, 5, "ファイルへのアクセスが拒否されました" },
        { ENOSPC, 101, "ディスクがいっぱいです" },
        { EFBIG, 101, "ディスクがいっぱいです" },
        // Without a table entry the errno itself is shown, even where its
        // number equals a table code (EIO is 5 here, like a denied access).
        { EIO, EIO, "I/O エラー (5)" },
        { EBUSY, EBUSY, "I/O エラー (16)" },
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
        { 2, "ファイルが見つかりません" },
        { 3, "不正なファイル名です" },
        { 4, "オープンしたファイルが多すぎます" },
        { 5, "ファイルへのアクセスが拒否されました" },
        { 100, "ファイルの末尾以降を読み込みました" },
        { 101, "ディスクがいっぱいです" },
        { 106, "入力値が数値ではありません" },
        { 32, "I/O エラー (32)" },
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
        EXPECT_EQ(e.Message(), "ディスクがいっぱいです");
        EXPECT_NE(dynamic_cast<const EInOutError*>(&e), nullptr);
    }
    EXPECT_THROW(RaiseInOutError(EIO), EInOutError);
}

TEST(Exception, FileNameMessagesAndTheWin32Text)
{
    EXPECT_EQ(FormatMessage("ファイル %s は開けません", "/tmp/a b.bmp"),
        "ファイル /tmp/a b.bmp は開けません");
    EXPECT_EQ(FormatMessage("no placeholder", "x"), "no placeholder");
    const EWin32Error e(8, "Not enough memory");
    EXPECT_EQ(e.Message(), "Win32 エラー。コード : 8.\nNot enough memory");
    EXPECT_EQ(e.ErrorCode(), 8);
    const EFOpenError open("x");
    EXPECT_NE(dynamic_cast<const EStreamError*>(&open), nullptr);
}

} // namespace
