#!/usr/bin/env bash
# The printing core never reaches into a front end: no file of the core
# includes a header of the CUPS filter front end (filter/), and the core's
# public headers include nothing but the core.
set -euo pipefail
src=${1:?usage: core_includes_test.sh SOURCE_DIR}
cd "$src"
core_dirs=(include driver imaging stream status)
status=0
while IFS= read -r line; do
  echo "core file includes the front end: $line" >&2
  status=1
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"filter/' "${core_dirs[@]}" || true)
while IFS= read -r line; do
  echo "public header includes a non-core header: $line" >&2
  status=1
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' include |
         grep -vE '"(zeru|driver|imaging|stream|status)/' || true)
[ -d filter ] || { echo "no front end in filter/" >&2; status=1; }
exit "$status"
