# shellcheck shell=bash
# Machine set-up and builds shared by scripts/test and scripts/demo.
# Source it after scripts/env.sh, from the source directory:
#   . scripts/env.sh; . scripts/setup.sh
# Debian 12, as root: missing packages are installed with apt-get.
JOBS=${PROXY_JOBS:-2}

PACKAGES=(
    wine wine64 libcups2 libfreetype6 libfontconfig1 libgnutls30 libxrender1 libxext6
    libxrandr2 libxcursor1 libxi6 libxcomposite1 libxinerama1 libxfixes3 libxxf86vm1
    fonts-wine fonts-liberation g++-mingw-w64-x86-64-posix
    cups cups-client cups-bsd printer-driver-cups-pdf ghostscript
    xvfb xauth xdotool x11-apps x11-utils fonts-wqy-microhei locales python3-pil
    ninja-build cmake googletest clang libclang-rt-14-dev llvm
    debhelper dh-python pybuild-plugin-pyproject python3-all python3-setuptools python3-wheel
    build-essential dpkg-dev lintian go-md2man pyflakes3 black shellcheck
    libpappl-dev libavahi-client-dev cups-ipp-utils pkg-config
    chromium dbus avahi-daemon avahi-utils curl
)

step() { echo "== $*"; }

missing_packages() {
    local package
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^ii' ||
            echo "$package"
    done
    # python3, g++ and clang-format may come from elsewhere; only their commands matter.
    command -v python3 >/dev/null || echo python3
    command -v g++ >/dev/null || echo g++
    command -v clang-format >/dev/null || echo clang-format
}

install_packages() {
    local missing
    mapfile -t missing < <(missing_packages)
    ((${#missing[@]} == 0)) && return 0
    step "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq </dev/null
    apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

# configure DIR [CMAKE ARGS...]: once; a configured tree keeps its settings.
configure() {
    local dir=$1
    shift
    [[ -f $dir/build.ninja ]] && return 0
    cmake -S . -B "$dir" -G Ninja -DPROXY_WERROR=ON "$@" </dev/null
}

# build DIR [TARGETS...]: everything when no target is named.
build() {
    local dir=$1
    shift
    ninja -C "$dir" -j "$JOBS" "$@" </dev/null
}

configure_and_build() {
    configure "$@" && build "$1"
}

# build_windows [TARGETS...]: the Windows build of the program, its tests and
# benchmarks in $PROXY_BUILD_DIR.
build_windows() {
    configure "$PROXY_BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake &&
        build "$PROXY_BUILD_DIR" "$@"
}
