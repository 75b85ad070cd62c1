#!/usr/bin/env bash
# Builds and tests the project on a platform other than this machine's own,
# in a Debian root made with debootstrap:
#
#   platforms.sh PLATFORM setup   only makes the platform's root and installs
#                                 its packages (what the test command does
#                                 while this machine builds)
#
#   platforms.sh trixie       Debian 13, x86-64: scripts/setup.sh, the plain
#                             build and its suite (ZERU_PLATFORM_SUITE: all,
#                             some labels, or none), then the Debian package
#                             stage (package.sh, package-check.sh)
#   platforms.sh bookworm     the same on a fresh Debian 12 root
#   platforms.sh arm64|armhf  Debian 13 with Debian's cross compiler and the
#                             architecture's -dev packages: the cross build
#                             (the Printer Application's with it), then its
#                             unit and integration tests (the filter
#                             binary's among them) and two of the Printer
#                             Application's end-to-end tests run under
#                             qemu-user
#
# The roots are cached in ZERU_PLATFORM_CACHE (default
# /var/cache/zeru-platforms) and made again when missing; a root keeps the
# packages installed into it, so a later run installs nothing new. Each run
# builds from a fresh copy of the working tree's own files. Everything runs
# in private mount, process and (for the tests) network namespaces: what the
# root starts (a scheduler, the service) ends with it, and nothing is mounted
# on the host afterwards. Needs root, debootstrap and, for the architectures,
# qemu-user-static with binfmt_misc (scripts/setup.sh installs them).
# Prints each step's time in seconds.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: platforms.sh trixie|bookworm|arm64|armhf [setup]}
case ${2:-} in
  "") setup_only=false ;;
  setup) setup_only=true ;;
  *) echo "usage: platforms.sh trixie|bookworm|arm64|armhf [setup]" >&2; exit 2 ;;
esac
cache=${ZERU_PLATFORM_CACHE:-/var/cache/zeru-platforms}
mirror=${ZERU_DEBIAN_MIRROR:-http://deb.debian.org/debian}
# Which of the plain suite a release's root runs: "all", a ctest label
# expression ('^(unit|app)$'), or "none" for the package stage alone.
suite=${ZERU_PLATFORM_SUITE:-all}
jobs=$(nproc)

fail() { echo "platforms: FAIL: $*" >&2; exit 1; }
note() { echo "platforms: $*"; }
step_start=$SECONDS
timed() {
  local name=$1
  shift
  step_start=$SECONDS
  "$@"
  note "$name: $((SECONDS - step_start)) s"
}

case $target in
  trixie | bookworm) release=$target arch=amd64 ;;
  arm64) release=trixie arch=arm64 triplet=aarch64-linux-gnu qemu=aarch64 cpu=aarch64 ;;
  armhf) release=trixie arch=armhf triplet=arm-linux-gnueabihf qemu=arm cpu=arm ;;
  *) fail "unknown platform '$target': trixie, bookworm, arm64 or armhf" ;;
esac
[ "$(id -u)" -eq 0 ] || fail "run as root: the roots are made with debootstrap and chroot"
command -v debootstrap >/dev/null || fail "debootstrap is missing: run scripts/setup.sh"

# A release's minimal root, downloaded once; each platform works in a copy.
base_root() {
  local base=$cache/$release-base
  if [ ! -e "$base/.zeru-complete" ]; then
    rm -rf "$base" "$base.tmp"
    mkdir -p "$cache"
    debootstrap --variant=minbase "$release" "$base.tmp" "$mirror" >"$cache/$release-debootstrap.log" 2>&1 ||
      { tail -n 20 "$cache/$release-debootstrap.log" >&2; fail "debootstrap $release"; }
    touch "$base.tmp/.zeru-complete"
    mv "$base.tmp" "$base"
  fi
}

work_root=$cache/$target
make_work_root() {
  if [ ! -e "$work_root/.zeru-complete" ]; then
    rm -rf "$work_root" "$work_root.tmp"
    cp -a "$cache/$release-base" "$work_root.tmp"
    mv "$work_root.tmp" "$work_root"
  fi
}

# in_root NET SCRIPT: runs SCRIPT with bash inside the root, as root, in
# private mount and process namespaces; NET=private gives it a network
# namespace of its own with only loopback, NET=host keeps the host's network
# (for apt). /proc, /sys, /dev, a fresh /run and /tmp are mounted for it and
# go with the namespace.
in_root() {
  local net=$1 script=$2 flags=(--mount --propagation private --pid --fork --kill-child --uts --ipc)
  [ "$net" = private ] && flags+=(--net)
  cp /etc/resolv.conf "$work_root/etc/resolv.conf" 2>/dev/null || true
  unshare "${flags[@]}" bash -euo pipefail -c '
    r=$1 net=$2 script=$3
    [ "$net" = private ] && ip link set lo up
    # The root a mount point of its own: the tests'"'"' unshare --propagation
    # cannot change the propagation of a root that is not one.
    mount --bind "$r" "$r"
    mount -t proc proc "$r/proc"
    mount -t sysfs sysfs "$r/sys" 2>/dev/null || mount --rbind /sys "$r/sys"
    mount --rbind /dev "$r/dev"
    mount -t tmpfs -o mode=0755 zeru-run "$r/run"
    mount -t tmpfs -o mode=1777 zeru-tmp "$r/tmp"
    mkdir -p "$r/run/lock"
    exec chroot "$r" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      DEBIAN_FRONTEND=noninteractive ZERU_TIME_SCALE="${ZERU_TIME_SCALE:-}" \
      bash -euo pipefail -c "$script"
  ' in_root "$work_root" "$net" "$script"
}

# The working tree's own files (tracked, and new ones not ignored) in
# /src/rastertozeru of the root.
copy_source() {
  rm -rf "$work_root/src"
  mkdir -p "$work_root/src/rastertozeru"
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -) | tar -xf - -C "$work_root/src/rastertozeru"
}

# binfmt_misc runs the architecture's programs under qemu; the F flag opens
# the emulator once, so it works inside the root without a copy there.
check_emulation() {
  local entry=/proc/sys/fs/binfmt_misc/qemu-$qemu
  if [ ! -e /proc/sys/fs/binfmt_misc/status ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
      fail "binfmt_misc is not available here: $arch programs cannot run"
  fi
  [ -e "$entry" ] || update-binfmts --enable "qemu-$qemu" >/dev/null 2>&1 || true
  [ -e "$entry" ] && grep -q '^enabled' "$entry" ||
    fail "no qemu-$qemu binfmt entry: install qemu-user-static and binfmt-support"
  grep -q '^flags:.*F' "$entry" || fail "the qemu-$qemu binfmt entry lacks the F flag"
}

native() {
  timed "$target: setup (scripts/setup.sh in the root)" in_root host '
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends git ca-certificates >/dev/null
    /src/rastertozeru/scripts/setup.sh >/dev/null
    cd /src/rastertozeru
    git init -q . && git add -A && git -c user.name=zeru -c user.email=zeru@localhost commit -qm tree'
  "$setup_only" && return
  [ "$suite" = none ] || native_suite
  timed "$target: Debian packages" in_root private "
    cd /src/rastertozeru
    DEB_BUILD_OPTIONS='nocheck noautodbgsym parallel=$jobs' ./scripts/package.sh
    ./scripts/package-check.sh out/debs"
}

native_suite() {
  local labels=
  [ "$suite" = all ] || labels="-L '$suite'"
  timed "$target: plain build" in_root private "
    cd /src/rastertozeru
    BUILD_DIR=\$PWD/build ./scripts/build.sh >build.log 2>&1 || { tail -n 60 build.log; exit 1; }
    ! grep -n 'warning:' build.log || { echo 'the build has warnings'; exit 1; }"
  timed "$target: plain suite" in_root private "
    cd /src/rastertozeru/build
    ctest --output-on-failure -j$jobs --timeout 900 $labels"
}

# The cross build is optimised as the plain build is, but without debug
# information, which nothing reads under emulation and which costs the two
# cross builds a good part of their time.
cross() {
  check_emulation
  timed "$target: setup (cross compiler and $arch packages)" in_root host "
    dpkg --add-architecture $arch
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends \
      crossbuild-essential-$arch cmake pkg-config git ca-certificates python3 \
      file cups-ppdc ghostscript cups-ipp-utils libcups2-dev:$arch libcupsimage2-dev:$arch \
      libjbig-dev:$arch libpng-dev:$arch libjpeg-dev:$arch libgtest-dev:$arch libgmock-dev:$arch \
      libpappl-dev:$arch libpam0g-dev:$arch >/dev/null"
  "$setup_only" && return
  timed "$target: cross build" in_root private "
    cd /src/rastertozeru
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE='-O2 -DNDEBUG' \
      -DCMAKE_CXX_FLAGS_RELEASE='-O2 -DNDEBUG' \
      -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=$cpu \
      -DCMAKE_C_COMPILER=$triplet-gcc -DCMAKE_CXX_COMPILER=$triplet-g++ \
      -DPKG_CONFIG_EXECUTABLE=/usr/bin/$triplet-pkg-config >/dev/null
    cmake --build build -j$jobs >build.log 2>&1 || { tail -n 60 build.log; exit 1; }
    ! grep -n 'warning:' build.log || { echo 'the build has warnings'; exit 1; }
    for binary in rastertozeru printer-app/zeru-printer-app; do
      file build/\$binary | grep -q '$( [ "$arch" = arm64 ] && echo aarch64 || echo ARM)' ||
        { echo \"build/\$binary is not an $arch program\"; exit 1; }
    done"
  # The load tests judge no memory under emulation (qemu-user keeps what a
  # thread frees resident) and take minutes there: the 32-bit armhf runs
  # them, for its sizes and spool offsets over thousands of pages; arm64,
  # whose sizes are x86-64's, leaves them out.
  local skip=
  [ "$arch" = arm64 ] && skip="-E '^LoadJob\.'"
  timed "$target: unit and integration tests under qemu-$qemu" in_root private "
    cd /src/rastertozeru/build
    ZERU_EMULATED=qemu-user ZERU_TIME_SCALE=\${ZERU_TIME_SCALE:-4} \
      ctest --output-on-failure -j$jobs --timeout 1800 \
      -L '^(unit|integration)$' $skip"
  # The architecture's Printer Application serving a job over IPP, and
  # refusing a bad one, through the host's ipptool and Ghostscript.
  timed "$target: the Printer Application under qemu-$qemu (two end-to-end tests)" in_root private "
    cd /src/rastertozeru/build
    ZERU_EMULATED=qemu-user ZERU_TIME_SCALE=\${ZERU_TIME_SCALE:-4} \
      ctest --output-on-failure --timeout 900 -R '^e2e\.printer_app_(job_name|aborted)_test\$'"
}

timed "$release: root (debootstrap, cached)" base_root
make_work_root
copy_source
case $arch in
  amd64) native ;;
  *) cross ;;
esac
if "$setup_only"; then note "$target: set up"; else note "$target: passed"; fi
