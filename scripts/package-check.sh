#!/usr/bin/env bash
# Installs the packages that scripts/package.sh built, runs their autopkgtest
# tests (debian/tests/control) against them, upgrades them to themselves with
# a queue in place, purges them and checks that nothing of theirs is left,
# then installs and purges them once more, as root on this machine. CUPS
# stays installed and running.
#
# Usage: package-check.sh [DEB_DIR]   (default out/debs)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
debs=$(cd "${1:-$root/out/debs}" && pwd)
packages=(printer-driver-zemro zemro-colour-standin zeru-printer-app)
export DEBIAN_FRONTEND=noninteractive

fail() { echo "package-check: FAIL: $*" >&2; exit 1; }
note() { echo "package-check: $*"; }

[ "$(id -u)" -eq 0 ] || fail "run as root: the packages are installed on this machine"
shopt -s nullglob
files=("$debs"/*.deb)
((${#files[@]} == ${#packages[@]})) || fail "expected ${#packages[@]} packages in $debs, found ${#files[@]}"

apt_quiet() { apt-get -y -q -o Dpkg::Use-Pty=0 "$@" >"$debs/apt.log" 2>&1 || { cat "$debs/apt.log" >&2; return 1; }; }

cups_running() { lpstat -r 2>/dev/null | grep -qv not; }
start_cups() {
  cups_running && return 0
  service cups start >/dev/null 2>&1 || true
  for _ in $(seq 50); do cups_running && return 0; sleep 0.2; done
  fail "the CUPS scheduler does not start"
}

note "installing ${files[*]##*/}"
apt_quiet install "${files[@]}" || fail "apt install"
# Everything the packages put on disk, for the check after the purge.
owned=$(dpkg -L "${packages[@]}" | sort -u)

# The autopkgtest tests, each as autopkgtest runs it: as root, from the
# source tree's top, with a fresh AUTOPKGTEST_TMP.
tests=$(sed -n 's/^Tests: *//p' "$root/debian/tests/control")
for test in $tests; do
  note "autopkgtest $test"
  tmp=$(mktemp -d)
  (cd "$root" && AUTOPKGTEST_TMP=$tmp "debian/tests/$test") || { rm -rf "$tmp"; fail "autopkgtest $test"; }
  rm -rf "$tmp"
done

note "upgrading to the same version keeps a queue"
start_cups
lpadmin -p zeru-package-check -E -v file:///dev/null -m zemro/ztx7m.ppd || fail "lpadmin -m zemro/ztx7m.ppd"
apt_quiet install --reinstall "${files[@]}" || fail "apt install --reinstall"
start_cups
lpstat -p zeru-package-check >/dev/null 2>&1 || fail "the queue went with the upgrade"
grep -q 'ZEMRO' /etc/cups/ppd/zeru-package-check.ppd || fail "the queue lost its PPD"
lpadmin -x zeru-package-check

note "purging"
apt_quiet purge "${packages[@]}" || fail "apt purge"
left=()
while IFS= read -r path; do
  case $path in
    /|/.|/etc|/lib|/lib/*/|/usr|/usr/share|/usr/share/doc|/usr/share/man|/usr/share/man/man?|/usr/bin|/usr/sbin) continue ;;
  esac
  if [ -e "$path" ] && ! [ -d "$path" ]; then left+=("$path"); fi
  if [ -d "$path" ] && [ -z "$(dpkg -S "$path" 2>/dev/null)" ] && [ -z "$(ls -A "$path")" ]; then left+=("$path"); fi
done <<<"$owned"
for path in /var/lib/zeru-printer-app /var/spool/zeru-printer-app /var/lib/zeru-printer-app.state \
            /run/zeru-printer-app.sock /run/zeru-printer-app /etc/pam.d/zeru-printer-app \
            /etc/systemd/system/multi-user.target.wants/zeru-printer-app.service \
            /var/lib/systemd/deb-systemd-helper-enabled/zeru-printer-app.service; do
  [ ! -e "$path" ] || left+=("$path")
done
((${#left[@]} == 0)) || fail "the purge left: ${left[*]}"
for p in "${packages[@]}"; do
  ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q . ||
    [ -z "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -v not-installed)" ] ||
    fail "$p is still known to dpkg"
done
note "purged; nothing left"

note "installing again after the purge"
apt_quiet install "${files[@]}" || fail "apt install after the purge"
start_cups
lpinfo -m | grep -q '^zemro/ztx7m.ppd ' || fail "the scheduler does not offer the PPDs after a reinstall"
[ -d /var/lib/zeru-printer-app ] || fail "no state folder after a reinstall"
apt_quiet purge "${packages[@]}" || fail "apt purge"
cups_running || start_cups
note "done"
