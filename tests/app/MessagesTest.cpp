// Every message that has a translation, raised where the program raises it
// and read under an English and a Japanese locale: the English text, and
// the Japanese one exactly as the catalogue must hold it.
#include <cerrno>
#include <filesystem>
#include <functional>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "Language.h"
#include "TestUtil.h"
#include "app/ConversionCommand.h"
#include "image/Bitmap.h"
#include "mdl/MDLClass.h"
#include "obj/Numbers.h"
#include "util/Errors.h"

namespace {

// The message of the failure Raise throws; "" when it throws none.
std::string MessageOf(const std::function<void()>& Raise)
{
    try {
        Raise();
    } catch (const std::exception& failure) {
        return FailureText(failure);
    }
    return std::string();
}

// Saves Image while files may grow to at most Limit bytes: the write then
// fails as on a full disk.
void SaveWithFileSizeLimit(const TBitmap& Image, rlim_t Limit)
{
    static TScratchDir dir;
    TFileSizeLimit limit(Limit);
    Image.SaveBmpFile(dir.File("full.bmp"));
}

struct TMessageCase
{
    const char* Name;
    std::function<void()> Raise;
    std::string English;
    std::string Japanese;
};

const std::string Nowhere = "/nonexistent-folder/t.bmp";

// The error box's text of each: the final "." is added in both languages
// (not after the ")" of an I/O code).
const TMessageCase MessageCases[] = {
    { "file not found", [] { throw EInOutError(IoFileNotFound); }, "File not found.",
        "ファイルが見つかりません." },
    { "bad file name", [] { RaiseInOutError(ENOENT, Nowhere); }, "Invalid file name.",
        "不正なファイル名です." },
    { "too many open files", [] { RaiseInOutError(EMFILE); }, "Too many open files.",
        "オープンしたファイルが多すぎます." },
    { "access denied", [] { RaiseInOutError(EACCES); }, "File access denied.",
        "ファイルへのアクセスが拒否されました." },
    { "read past the end", [] { throw EInOutError(IoReadPastEnd); }, "Read beyond end of file.",
        "ファイルの末尾以降を読み込みました." },
    { "disk full", [] { RaiseInOutError(ENOSPC); }, "Disk full.", "ディスクがいっぱいです." },
    { "not a number", [] { throw EInOutError(IoInvalidNumber); }, "Invalid numeric input.",
        "入力値が数値ではありません." },
    { "other I/O code", [] { RaiseInOutError(EBUSY); }, "I/O error (16)", "I/O エラー (16)" },
    { "system error", [] { throw EWin32Error(8, "x"); }, "System error. Code: 8.\nx.",
        "Win32 エラー。コード : 8.\nx." },
    { "cannot open", [] { TBitmap().LoadBmpFile(Nowhere); },
        "The file " + Nowhere + " cannot be opened.", "ファイル " + Nowhere + " は開けません." },
    { "cannot create",
        [] {
            TBitmap image;
            image.SetWidth(1);
            image.SetHeight(1);
            image.SaveBmpFile(Nowhere);
        },
        // The reason in brackets ends the text: no "." is added.
        "The file " + Nowhere + " cannot be created (Invalid file name)",
        "ファイル " + Nowhere + " を作成できません (不正なファイル名です)" },
    { "invalid bitmap",
        [] {
            TBitmap().DecodeBmp({ 'X', 'X', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 });
        },
        "The bitmap image is not valid.", "ビットマップイメージが不正です." },
    { "short read",
        [] {
            TBitmap().DecodeBmp({ 'B', 'M', 0 });
        },
        "Error reading from a stream.", "ストリームからの読み込みエラー." },
    { "short write",
        [] {
            TBitmap image;
            image.SetWidth(64);
            image.SetHeight(64);
            SaveWithFileSizeLimit(image, 1000);
        },
        "Error writing to a stream (Disk full)",
        "ストリームへの書き込みエラー (ディスクがいっぱいです)" },
    { "scan line", [] { TBitmap().RowData(0); }, "Scan line index out of range.",
        "スキャンライン のインデックスが範囲を越えました." },
    { "resources",
        [] {
            TBitmap image;
            image.SetBitsPerPixel(32);
            image.SetWidth(TBitmap::MaxDimension);
            image.SetHeight(TBitmap::MaxDimension);
        },
        "Out of system resources.", "システム リソースが足りません." },
    { "real number", [] { StrToFloat("1,5"); }, "'1,5' is not a valid floating-point number.",
        "'1,5' は浮動小数点数ではありません." },
    { "integer", [] { StrToInt("x"); }, "'x' is not a valid integer.",
        "'x' は整数ではありません." },
    { "memory", [] { throw std::bad_alloc(); }, "Out of memory.", "メモリが不足しています." },
};

TEST(Messages, AreEnglishOutsideAJapaneseLocale)
{
    for (const char* locale : { "C", "C.UTF-8" }) {
        TLanguage language(locale);
        ASSERT_TRUE(language.Available()) << locale;
        for (const TMessageCase& c : MessageCases)
            EXPECT_EQ(MessageOf(c.Raise), c.English) << c.Name << " under " << locale;
    }
}

TEST(Messages, AreTheJapaneseTextsUnderAJapaneseLocale)
{
    TLanguage language(JapaneseLocale);
    ASSERT_TRUE(language.Available()) << MissingJapaneseLocale();
    for (const TMessageCase& c : MessageCases)
        EXPECT_EQ(MessageOf(c.Raise), c.Japanese) << c.Name;
}

TEST(Messages, LeaveTheConvertersOwnTextsInEnglish)
{
    TLanguage language(JapaneseLocale);
    ASSERT_TRUE(language.Available()) << MissingJapaneseLocale();
    EXPECT_EQ(MessageOf([] { throw ERangeError(SIncorrectSkinFormat); }), "Incorrect Skin format.");
    EXPECT_STREQ(Tr(""), "");
}

} // namespace
