# Shared by the scripts: install what is missing, configure and build.
# Sourced, not run. TARVEX_BUILD_DIR and TARVEX_CMAKE_ARGS may be set first.

TARVEX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TARVEX_PACKAGES=(g++ cmake ninja-build libgtest-dev libgmock-dev qt6-base-dev python3 gettext
    libpng-dev libjpeg62-turbo-dev)

tarvex_install_packages()
{
    local missing=()
    local p
    for p in "${TARVEX_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "tarvex: missing Debian packages: ${missing[*]}" >&2
        echo "tarvex: run this script as root, or: sudo apt-get install ${missing[*]}" >&2
        return 1
    fi
    echo "tarvex: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The tests read every message in English and in Japanese; the second needs the
# ja_JP.UTF-8 locale, generated here (as root) when the system lacks it.
tarvex_japanese_locale()
{
    locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8' && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "tarvex: the locale ja_JP.UTF-8 is missing; the Japanese message tests will fail" >&2
        echo "tarvex: run this script as root, or: sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8" >&2
        return 0
    fi
    tarvex_install_packages locales
    echo "tarvex: generating the locale ja_JP.UTF-8"
    localedef -i ja_JP -c -f UTF-8 -A /usr/share/locale/locale.alias ja_JP.UTF-8
}

tarvex_build()
{
    local dir=$1
    shift
    # A tree configured before keeps its generator: naming another one fails.
    local generator=(-G Ninja)
    [ -f "$dir/CMakeCache.txt" ] && generator=()
    cmake -S "$TARVEX_ROOT" -B "$dir" "${generator[@]}" "$@" >/dev/null && cmake --build "$dir" -j "$(nproc)"
}
