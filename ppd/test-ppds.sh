#!/bin/sh
# Installs the build into a staging root and checks the installed PPDs with
# cupstestppd, which also wants the filter the PPDs name to be installed.
# Usage: test-ppds.sh BUILD_DIR PPD_DIR MODEL...
#   PPD_DIR is the install directory of the PPDs, relative to the prefix /usr.
#
# Warnings that stay, on purpose: the sizes 16K, A5LEF and B6LEF are not
# named as Adobe names them, because the filter knows them by these keywords.
set -eu

build=${1:?usage: test-ppds.sh BUILD_DIR PPD_DIR MODEL...}
ppddir=${2:?}
shift 2

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
case $ppddir in
  /*) dir=$root$ppddir ;;
  *) dir=$root/usr/$ppddir ;;
esac

expected_warnings='Size "16K" should be the Adobe standard name "184.86x260mm".
Size "A5LEF" should be the Adobe standard name "A5Rotated".
Size "B6LEF" should be the Adobe standard name "B6Rotated".'

status=0
for model in "$@"; do
  ppd=$dir/$model.ppd
  if [ ! -f "$ppd" ]; then
    echo "FAIL: $ppd was not installed"
    status=1
    continue
  fi
  if ! report=$(cupstestppd -R "$root" "$ppd" 2>&1); then
    printf '%s\n' "$report"
    status=1
    continue
  fi
  printf '%s\n' "$report"
  warnings=$(printf '%s\n' "$report" | sed -n 's/^ *WARN *//p')
  if [ "$warnings" != "$expected_warnings" ]; then
    echo "FAIL: $model.ppd: unexpected warnings"
    status=1
  fi
done

# Exactly the four models, and nothing else, are installed.
count=$(find "$dir" -name '*.ppd' | wc -l)
if [ "$count" -ne $# ]; then
  echo "FAIL: $count PPDs installed in $dir, expected $#"
  status=1
fi
exit $status
