# Shared by the scripts: install what is missing, configure and build.
# Sourced, not run. TARVEX_BUILD_DIR and TARVEX_CMAKE_ARGS may be set first.

TARVEX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TARVEX_PACKAGES=(g++ cmake ninja-build libgtest-dev libgmock-dev qt6-base-dev python3 libpng-dev
    libjpeg62-turbo-dev)

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

tarvex_build()
{
    local dir=$1
    shift
    # A tree configured before keeps its generator: naming another one fails.
    local generator=(-G Ninja)
    [ -f "$dir/CMakeCache.txt" ] && generator=()
    cmake -S "$TARVEX_ROOT" -B "$dir" "${generator[@]}" "$@" >/dev/null && cmake --build "$dir" -j "$(nproc)"
}
