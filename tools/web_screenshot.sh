#!/usr/bin/env bash
# Takes a screenshot of a printer's page in the Printer Application's web
# interface with headless Chromium, for the documentation. It starts a
# server of the built app of its own on a free loopback port, from a
# temporary folder, adds a TX 7M printer writing into that folder, prints
# the test page so that the page shows a job, takes the screenshot and
# stops everything again. Without an installed colour library (and run as
# root) it runs the app in a private mount namespace with the build's
# stand-in library where the core looks for it, so that the printer shows
# as ready. Installs Debian's chromium when it is missing.
#
# Usage: tools/web_screenshot.sh [-b BUILD_DIR] [-s WIDTHxHEIGHT] [-p PAGE] OUTPUT.png
#   -b  the build folder (default: build beside this script's folder)
#   -s  the browser window (default 1200x900)
#   -p  the page under the printer's path: "" for its main page (default),
#       "printing" for its printing defaults, "media" ...
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
size=1200x900
page=
while getopts b:s:p: flag; do
  case $flag in
    b) build=$(cd "$OPTARG" && pwd) ;;
    s) size=$OPTARG ;;
    p) page=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
output=${1:?usage: web_screenshot.sh [-b BUILD_DIR] [-s WIDTHxHEIGHT] [-p PAGE] OUTPUT.png}
case $output in /*) ;; *) output=$PWD/$output ;; esac

die() {
  echo "web_screenshot: $*" >&2
  exit 1
}

app=$build/printer-app/zeru-printer-app
[ -x "$app" ] || die "no $app: build the Printer Application first"

# The stand-in colour library, in a private mount namespace of our own.
if [ -z "${ZERU_SCREENSHOT_NAMESPACE:-}" ] && ! compgen -G "/opt/ZEMRO/lib/*.so" >/dev/null &&
   [ "$(id -u)" -eq 0 ] && [ -f "$build/engine/libzeruengine.so" ]; then
  exec env ZERU_SCREENSHOT_NAMESPACE=1 unshare --mount --propagation private \
    "$0" -b "$build" -s "$size" -p "$page" "$output"
fi

if ! command -v chromium >/dev/null; then
  [ "$(id -u)" -eq 0 ] || die "chromium is not installed (apt-get install chromium)"
  echo "web_screenshot: installing chromium" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q chromium >/dev/null ||
    die "cannot install chromium"
fi

work=$(mktemp -d /tmp/zeru-screenshot.XXXXXX)
app_pid=
cleanup() {
  if [ -n "$app_pid" ]; then
    kill -TERM "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  [ -z "${ZERU_SCREENSHOT_NAMESPACE:-}" ] || umount /opt 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ -n "${ZERU_SCREENSHOT_NAMESPACE:-}" ]; then
  mkdir -p "$work/opt/ZEMRO/lib"
  cp "$build/engine/libzeruengine.so" "$work/opt/ZEMRO/lib/ZEMRO TX 7Mcl.so"
  mount --bind "$work/opt" /opt || die "cannot mount the stand-in colour library"
fi

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export SNAP_COMMON=$work
mkdir -p "$work/out"
"$app" server -o server-port="$port" -o state-file="$work/app.state" \
  -o spool-directory="$work/spool" -o log-file="$work/app.log" >"$work/app.out" 2>&1 &
app_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
kill -0 "$app_pid" 2>/dev/null || die "the app did not start: $(cat "$work/app.out")"

printer=TX-7M
timeout 30 "$app" add -d "$printer" -m zemro_tx7m -v "file://$work/out?ext=zeru" >/dev/null ||
  die "cannot add the printer"
base=http://127.0.0.1:$port/$printer
session=$(timeout 30 curl -sS "$base/" |
  sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' | head -n 1)
if [ -n "$session" ]; then
  timeout 30 curl -sS -o /dev/null --data-urlencode "session=$session" \
    --data-urlencode "action=print-test-page" "$base/" || true
  sleep 3
fi

# A browser profile of its own, nothing fetched from the network.
timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --hide-scrollbars --user-data-dir="$work/chromium" --window-size="${size/x/,}" \
  --screenshot="$output" "$base/$page" >"$work/chromium.log" 2>&1 ||
  die "chromium failed: $(tail -n 5 "$work/chromium.log")"
[ -s "$output" ] || die "chromium wrote no screenshot"
echo "web_screenshot: wrote $output"
