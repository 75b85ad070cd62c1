#!/usr/bin/env bash
# The layers' includes point one way. From the bottom:
#   settings/, status/   job settings rules, paper geometry, the status block
#   stream/              the printer's byte formats: records, PJL envelope
#   imaging/             the colour library, rendering, compression
#   job/                 the job: spool, sending order, the job's policy
#   filter/              a front end: the CUPS filter
#   printer-app/         a front end: the Printer Application
# A file may include headers of its own layer and the layers below it, and
# the public API (include/zeru/) that it implements or uses. The public
# headers include no internal header and no CUPS header. The front ends'
# folders are not included by the core. Both front ends, the CUPS filter and
# the Printer Application, stand on the public API alone: each includes
# zeru/ and its own headers, nothing else of the project; nothing includes the
# Printer Application. Test code (tests/, fuzz/, bench/) may include anything;
# no product folder includes test code.
set -euo pipefail
src=${1:?usage: core_includes_test.sh SOURCE_DIR}
cd "$src"

rank() {
  case $1 in
    settings | status) echo 0 ;;
    stream) echo 1 ;;
    imaging) echo 2 ;;
    job) echo 3 ;;
    filter) echo 4 ;;
    printer-app) echo 5 ;;
    *) echo -1 ;;
  esac
}

status=0
for dir in settings status stream imaging job filter printer-app; do
  [ -d "$dir" ] || { echo "missing layer folder $dir/" >&2; status=1; continue; }
  own=$(rank "$dir")
  while IFS=: read -r file line text; do
    target=$(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/p' <<<"$text")
    [ -n "$target" ] || continue
    [ "$target" = zeru ] && continue
    other=$(rank "$target")
    if { [ "$dir" = filter ] || [ "$dir" = printer-app ]; } && [ "$target" != "$dir" ]; then
      echo "$file:$line: $dir/ includes $target/; it may include only zeru/ and its own headers: $text" >&2
      status=1
      continue
    fi
    if [ "$target" = printer-app ] && [ "$dir" != printer-app ]; then
      echo "$file:$line: $dir/ includes the Printer Application: $text" >&2
      status=1
      continue
    fi
    if [ "$other" -lt 0 ] || [ "$other" -gt "$own" ]; then
      echo "$file:$line: $dir/ includes $target/, which is not below it: $text" >&2
      status=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' -r "$dir" /dev/null || true)
done

# Test support stays with the tests.
for dir in settings status stream imaging job filter printer-app engine tools include; do
  [ -d "$dir" ] || continue
  while IFS= read -r line; do
    echo "product code includes test code: $line" >&2
    status=1
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(support|tests|fuzz|bench)/' "$dir" || true)
done

# The public API stands on its own.
while IFS= read -r line; do
  echo "public header includes a non-public header: $line" >&2
  status=1
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' include |
         grep -vE '"zeru/' || true)
while IFS= read -r line; do
  echo "public header includes a CUPS header: $line" >&2
  status=1
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<cups/' include || true)
exit "$status"
