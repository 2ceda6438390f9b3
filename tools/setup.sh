# Shared by run.sh and test.sh: installs what a fresh Debian 12 machine lacks.
# Sourced, not run.
CORVANITH_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libqt6svg6
    qt6-webengine-dev libqt6webenginecore6-bin
    libgl-dev libxkbcommon-dev libtiff-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libxcb1-dev libxcb-shape0-dev
    libjpeg62-turbo-dev zlib1g-dev
    xvfb xauth xdotool python3
)

corvanith_install_missing() {
    local missing=()
    local p
    for p in "${CORVANITH_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# corvanith_configure DIR [cmake options...]
corvanith_configure() {
    local dir="$1"
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

# corvanith_build DIR [cmake options...]: every target, tests and benchmarks included.
corvanith_build() {
    corvanith_configure "$@"
    cmake --build "$1" --parallel "$(nproc)"
}
