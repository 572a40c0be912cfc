#include "util/Translate.h"

#include <cstdlib>
#include <libintl.h>
#include <mutex>
#include <string>

#include <unistd.h>

#include "util/FileIO.h"

namespace {

const char* const TextDomain = "tarvex";

std::once_flag DefaultBinding;

void Bind(const std::string& Dir)
{
    ::bindtextdomain(TextDomain, Dir.c_str());
    // Messages are carried in UTF-8 whatever the character set of LC_CTYPE,
    // which the programs leave at "C".
    ::bind_textdomain_codeset(TextDomain, "UTF-8");
}

// The catalogues lie where they were installed relative to the program, so
// that an installed tree may be moved and a package may use another prefix
// than the build; the build tree has them at the same place.
std::string InstalledCatalogues()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path)
        return TARVEX_LOCALEDIR;
    return FolderPart(std::string(path, static_cast<std::size_t>(length)))
        + TARVEX_LOCALEDIR_FROM_BINDIR;
}

void BindDefault()
{
    const char* dir = std::getenv("TARVEX_LOCALEDIR");
    Bind(dir && *dir ? std::string(dir) : InstalledCatalogues());
}

} // namespace

void BindCatalogues(const std::string& Dir)
{
    // Binds now, so that the first Tr does not undo it.
    std::call_once(DefaultBinding, [] {});
    Bind(Dir);
}

const char* Tr(const char* English)
{
    // gettext gives the catalogue's header for the empty text.
    if (English == nullptr || *English == '\0')
        return English;
    std::call_once(DefaultBinding, BindDefault);
    return ::dgettext(TextDomain, English);
}
