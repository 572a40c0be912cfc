// Switching the language of messages inside a test: LC_MESSAGES set to a
// locale and LANGUAGE cleared, both put back when the object goes. The
// catalogues are the build tree's.
#pragma once

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "util/Translate.h"

// The locale whose messages are the Japanese texts; the test scripts
// generate it.
constexpr const char* JapaneseLocale = "ja_JP.UTF-8";

class TLanguage
{
public:
    explicit TLanguage(const char* Locale)
        : FSavedLocale(std::setlocale(LC_MESSAGES, nullptr))
    {
        BindCatalogues(TARVEX_BUILD_LOCALEDIR);
        if (const char* language = std::getenv("LANGUAGE"))
            FSavedLanguage = language;
        ::unsetenv("LANGUAGE");
        FAvailable = std::setlocale(LC_MESSAGES, Locale) != nullptr;
    }
    ~TLanguage()
    {
        if (FSavedLanguage)
            ::setenv("LANGUAGE", FSavedLanguage->c_str(), 1);
        std::setlocale(LC_MESSAGES, FSavedLocale.c_str());
    }
    TLanguage(const TLanguage&) = delete;
    TLanguage& operator=(const TLanguage&) = delete;

    // False when the system lacks the locale; the messages are then English.
    bool Available() const { return FAvailable; }

private:
    std::string FSavedLocale;
    std::optional<std::string> FSavedLanguage;
    bool FAvailable = false;
};

// What a test that needs the Japanese locale says when it is missing.
inline std::string MissingJapaneseLocale()
{
    return std::string("the locale ") + JapaneseLocale
        + " is missing: run scripts/test.sh as root, or localedef -i ja_JP -f UTF-8 "
        + JapaneseLocale;
}
