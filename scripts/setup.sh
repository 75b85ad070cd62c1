#!/usr/bin/env bash
# Installs every build, test and run dependency from Debian's packages.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libcups2-dev libcupsimage2-dev cups cups-client cups-bsd cups-filters cups-ppdc cups-ipp-utils
  libjbig-dev jbigkit-bin libpng-dev libjpeg-dev
  libpappl-dev libpam0g-dev
  ghostscript poppler-utils
  clang libclang-rt-14-dev
  util-linux procps python3 time gnuplot-nox curl
  debhelper dpkg-dev lintian man-db systemd iproute2
  avahi-daemon avahi-utils dbus
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: root is needed to install packages" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
