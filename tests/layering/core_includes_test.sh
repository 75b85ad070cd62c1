#!/usr/bin/env bash
# The layers' includes point one way. From the bottom:
#   settings/, status/   job settings rules, paper geometry, the status block
#   stream/              the printer's byte formats: records, PJL envelope
#   imaging/             the colour library, rendering, the page's planes
#   jbig/                JBIG compression of the planes
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
    jbig) echo 3 ;;
    job) echo 4 ;;
    filter) echo 5 ;;
    printer-app) echo 6 ;;
    *) echo -1 ;;
  esac
}

status=0
for dir in settings status stream imaging jbig job filter printer-app; do
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

# The Printer Application's mapping stands on the public API alone, without
# PAPPL.
while IFS=: read -r file line text; do
  target=$(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' <<<"$text")
  case $target in
    zeru/* | printer-app/mapping/*) ;;
    *)
      echo "$file:$line: printer-app/mapping/ includes $target; it may include only zeru/ and its own headers: $text" >&2
      status=1
      ;;
  esac
done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' -r printer-app/mapping /dev/null || true)
while IFS= read -r line; do
  echo "printer-app/mapping/ includes a PAPPL header: $line" >&2
  status=1
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<pappl/' printer-app/mapping || true)
# Test support stays with the tests.
for dir in settings status stream imaging jbig job filter printer-app engine tools include; do
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

# The core stands on its own types: no CUPS header, type or constant in its
# folders or its public API.
while IFS= read -r line; do
  echo "the core uses CUPS: $line" >&2
  status=1
done < <(grep -rnE '#[[:space:]]*include[[:space:]]*<cups/|\b(cups|CUPS)_' \
           settings status stream imaging jbig job include || true)
exit "$status"
