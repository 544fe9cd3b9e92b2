# shellcheck shell=bash
# Shared by the scripts in scripts/ and bench/; sourced, not run.

# Installs the Debian packages that are missing; as a normal user, says what to run instead.
ensure_packages() {
    command -v dpkg-query > /dev/null || return 0
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    if [[ $(id -u) -ne 0 ]]; then
        echo "Missing packages: ${missing[*]}. Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}

# What every build in build/ needs.
# shellcheck disable=SC2034 # used by the scripts that source this file
# fonts-liberation2: Liberation Sans, metric-compatible with the Arial the window is designed for.
base_packages=(cmake g++ qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite fonts-liberation2 qt6-translations-l10n)
