# Shared set-up for scripts/test and scripts/run: Debian packages, configure, build.
# Source it, then call tl_setup BUILD_DIR [extra cmake arguments...].

TL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

TL_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
  libqt5charts5-dev libqt5sql5-sqlite libqt5sql5-psql libqt5svg5
  qttools5-dev qttools5-dev-tools
  libkf5archive-dev
  qttranslations5-l10n   # Qt's own dialogs and buttons in Russian
  python3 python3-openpyxl
  locales
)

tl_install_packages() {
  local missing=()
  local p
  for p in "${TL_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing Debian packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# A locale with a decimal comma, so that the version-parse test runs under one
# (without it that test is skipped).
tl_comma_locale() {
  if locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; then
    return 0
  fi
  echo "Generating the ru_RU.UTF-8 locale"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo localedef -i ru_RU -c -f UTF-8 -A /usr/share/locale/locale.alias ru_RU.UTF-8
}

tl_setup() {
  local build="$1"
  shift
  tl_install_packages
  cmake -S "$TL_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$build" -j "$(nproc)"
}
