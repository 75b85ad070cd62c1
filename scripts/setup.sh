#!/usr/bin/env bash
# Installs every build, test and run dependency from Debian's packages.
# Idempotent: packages already present are left alone.
# Works on Debian 12 and 13: versioned packages are named after what the
# release offers, not after a fixed version.
set -euo pipefail

# The major version of the release's default clang (the one the clang
# package depends on), from the installed package or else from apt's lists.
clang_version() {
  local deps
  deps=$(dpkg-query -W -f='${Depends}' clang 2>/dev/null || true)
  if [ -z "$deps" ]; then
    deps=$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: //p' | tr '\n' ',')
  fi
  sed -n 's/.*clang-\([0-9][0-9]*\).*/\1/p' <<<"$deps" | head -n 1
}

version=$(clang_version)
if [ -z "$version" ] && [ "$(id -u)" -eq 0 ]; then
  apt-get update -qq
  version=$(clang_version)
fi
if [ -z "$version" ]; then
  echo "setup: this release offers no clang package" >&2
  exit 1
fi

packages=(
  build-essential cmake pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libcups2-dev libcupsimage2-dev cups cups-client cups-bsd cups-filters cups-ppdc cups-ipp-utils
  libjbig-dev jbigkit-bin libpng-dev libjpeg-dev
  libpappl-dev libpam0g-dev
  ghostscript poppler-utils
  clang "libclang-rt-$version-dev"
  util-linux procps python3 time gnuplot-nox curl
  debhelper dpkg-dev lintian man-db systemd iproute2
  avahi-daemon avahi-utils dbus
  debootstrap qemu-user-static binfmt-support
)

# systemd's pkg-config file, which says where the release keeps its units:
# in systemd-dev from Debian 13 on, in systemd itself before.
if apt-cache show systemd-dev >/dev/null 2>&1; then
  packages+=(systemd-dev)
fi

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
