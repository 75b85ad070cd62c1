# shellcheck shell=bash disable=SC2034,SC2154  # $work and $build are the caller's; it reads STAGED_*
# Shared parts of the end-to-end tests, sourced by the *_test.sh scripts.
# The tests run the real CUPS chain on what the build installs: they install
# the build into a staging root and, inside a private mount namespace, put the
# staged colour library at /opt, where the filter looks for it. Nothing
# outside the namespace's private /tmp is changed.

# The tests' Python helpers (png_rows) import from beside this file.
export PYTHONPATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)${PYTHONPATH:+:$PYTHONPATH}"

UEL=$'\x1b%-12345X'

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

note() {
  echo "== $*"
}

# Re-runs the calling script in private mount and process namespaces (once),
# with a private /tmp: the test's files, the scheduler's socket and the
# filter's log all live there and go with the namespace. The script is the
# first process of its process namespace, so that nothing it started (a
# scheduler, filters) outlives it, even when it is killed.
enter_private_namespace() {
  if [ -z "${ZERU_E2E_IN_NAMESPACE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || fail "the end-to-end tests run as root"
    export ZERU_E2E_IN_NAMESPACE=1
    exec unshare --mount --propagation private --pid --fork --kill-child bash "$0" "$@"
  fi
  # The build and source trees may themselves lie under /tmp: the host's /tmp
  # stays reachable elsewhere, and they are bound back at their own paths.
  local hostTmp keep=() path real
  for path in "$@"; do
    real=$(realpath -m "$path")
    case "$real" in /tmp/*) keep+=("$real") ;; esac
  done
  if ((${#keep[@]})); then
    hostTmp=$(mktemp -d /run/zeru-e2e-host-tmp.XXXXXX) || fail "cannot make a mount point in /run"
    mount --bind /tmp "$hostTmp" || fail "cannot keep the host's /tmp"
  fi
  mount -t tmpfs -o mode=1777 zeru-e2e /tmp || fail "cannot mount a private /tmp"
  for real in "${keep[@]}"; do
    mkdir -p "$real"
    mount --bind "$hostTmp/${real#/tmp/}" "$real" || fail "cannot keep $real"
  done
  # A stand-in installed by a package is found after /opt: an empty folder
  # over it, so that the colour library is only the one the test brings.
  local packaged
  packaged=$(sed -n 's/^ZERU_PACKAGED_ENGINE_DIR:[A-Z]*=//p' "$1/CMakeCache.txt" 2>/dev/null) || true
  if [ -n "$packaged" ] && [ -d "$packaged" ]; then
    mount -t tmpfs -o ro,size=4k,mode=0755 zeru-e2e-pkg "$packaged" ||
      fail "cannot hide the packaged colour library in $packaged"
  fi
}

# cache_value BUILD NAME: the value of NAME in the build's CMake cache.
cache_value() {
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

# Installs the build into $work/stage (prefix /usr; the filter and the PPDs go
# into CUPS's own directories, whatever the prefix), with the colour library
# stand-in, and mounts the staged /opt over /opt, so that the filter finds the
# build's colour library.
stage_install() {
  local build=$1 serverbin datadir
  [ -x "$build/rastertozeru" ] || fail "no filter in $build: build first"
  DESTDIR=$work/stage cmake --install "$build" --prefix /usr >/dev/null ||
    fail "cmake --install into the staging root failed"
  DESTDIR=$work/stage cmake --install "$build" --prefix /usr --component engine >/dev/null ||
    fail "cmake --install --component engine into the staging root failed"
  serverbin=$(cache_value "$build" ZERU_CUPS_SERVERBIN)
  datadir=$(cache_value "$build" ZERU_CUPS_DATADIR)
  STAGED_FILTER=$work/stage$serverbin/filter/rastertozeru
  STAGED_PPD_DIR=$work/stage$datadir/model/zemro
  [ -x "$STAGED_FILTER" ] || fail "the filter was not installed as $STAGED_FILTER"
  [ -f "$work/stage/opt/ZEMRO/lib/ZEMRO TX 7Mcl.so" ] || fail "the colour library was not installed"
  mount --bind "$work/stage/opt" /opt || fail "cannot mount the staged /opt"
  OPT_MOUNTED=1
}

# Undoes stage_install's mount; for the exit trap.
unstage() {
  if [ -n "${OPT_MOUNTED:-}" ]; then
    umount /opt 2>/dev/null
    OPT_MOUNTED=
  fi
}

# A ServerBin directory: the staged filter (when a test staged one) beside
# links to the system's filters.
make_server_bin() {
  local dir=$1 f
  mkdir -p "$dir/filter"
  for f in /usr/lib/cups/filter/*; do
    ln -s "$f" "$dir/filter/"
  done
  if [ -n "${STAGED_FILTER:-}" ]; then
    rm -f "$dir/filter/rastertozeru"
    install -m 0755 "$STAGED_FILTER" "$dir/filter/rastertozeru"
  fi
  for f in backend daemon cgi-bin monitor notifier; do
    [ -e "/usr/lib/cups/$f" ] && ln -s "/usr/lib/cups/$f" "$dir/$f"
  done
  return 0
}

# make_pdf PAGES FILE: an A4 PDF of PAGES pages with coloured areas, gray
# and black text on each page, made by Ghostscript from PostScript.
make_pdf() {
  local pages=$1 out=$2
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a4 -dFIXEDMEDIA \
     -sOutputFile="$out" - <<EOF || fail "ghostscript could not make $out"
%!PS
/Helvetica findfont 48 scalefont setfont
1 1 $pages {
  /n exch def
  1 0 0 setrgbcolor 60 640 200 120 rectfill
  0 0.6 1 setrgbcolor 320 640 200 120 rectfill
  1 0.9 0 setrgbcolor 60 480 460 100 rectfill
  0.5 setgray 60 300 460 120 rectfill
  0 setgray 72 200 moveto (Page ) show n 4 string cvs show
  0 setlinewidth 30 30 moveto 565 812 lineto stroke
  showpage
} for
EOF
}

# starts_with FILE TEXT, ends_with FILE TEXT: byte for byte.
starts_with() {
  [ "$(head -c "${#2}" "$1" | od -An -tx1)" = "$(printf '%s' "$2" | od -An -tx1)" ]
}
ends_with() {
  [ "$(tail -c "${#2}" "$1" | od -An -tx1)" = "$(printf '%s' "$2" | od -An -tx1)" ]
}

# check_stream FILE [aborted]: the envelope of a job stream (the abort form of
# the trailer with "aborted"), and its structure through zerudump when the
# build has it.
check_stream() {
  local file=$1 trailer="@PJL EOJ"
  [ "${2:-}" = aborted ] && trailer="@PJL EOJ Abort"
  [ -s "$file" ] || fail "$file is empty"
  starts_with "$file" "${UEL}@PJL JOB NAME=PRINTER"$'\r\n' ||
    fail "$file does not start with the UEL and @PJL JOB NAME=PRINTER"
  has_pjl "$file" "@PJL ENTER LANGUAGE=ZERU"
  ends_with "$file" "${UEL}${trailer}"$'\r\n' ||
    fail "$file does not end with the UEL and $trailer"
  check_with_zerudump "$file"
}

check_with_zerudump() {
  local file=$1
  if [ -x "$build/tools/zerudump" ]; then
    "$build/tools/zerudump" "$file" >"$file.dump" 2>&1 ||
      { cat "$file.dump" >&2; fail "zerudump finds $file invalid"; }
  fi
}

# has_pjl FILE LINE: the stream carries the PJL line LINE (without CR LF).
has_pjl() {
  grep -aqxF "$2"$'\r' "$1" || fail "$1 lacks the line '$2'"
}

# scaled SECONDS: a time limit, ZERU_TIME_SCALE times as long in a slow
# (sanitizer) build.
scaled() {
  echo $(($1 * ${ZERU_TIME_SCALE:-1}))
}

# wait_for SECONDS COMMAND...: polls COMMAND every half second.
wait_for() {
  local deadline=$((SECONDS + $(scaled "$1")))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.5
  done
}

# A TCP port on 127.0.0.1 that nothing listens on.
free_port() {
  local port
  for port in $(shuf -i 20000-60000 -n 100); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

# Starts a scheduler of our own in $work (own configuration, spool and logs,
# a socket file and a port on 127.0.0.1, file devices allowed, the staged
# filter in its ServerBin after stage_install, the system's filters). Sets port, cupsd_pid and
# CUPS_SERVER; queues print into $work/out.
start_private_cupsd() {
  mkdir -p "$work/etc" "$work/spool/tmp" "$work/log" "$work/state" "$work/cache" "$work/out"
  make_server_bin "$work/serverbin"
  port=$(free_port) || fail "no free port"
  export CUPS_SERVER=$work/cupsd.sock

  cat >"$work/etc/cups-files.conf" <<CONF
ServerRoot $work/etc
ServerBin $work/serverbin
DataDir /usr/share/cups
RequestRoot $work/spool
TempDir $work/spool/tmp
StateDir $work/state
CacheDir $work/cache
AccessLog $work/log/access_log
ErrorLog $work/log/error_log
PageLog $work/log/page_log
Printcap $work/printcap
FileDevice Yes
User lp
Group lp
SystemGroup root
CONF

  cat >"$work/etc/cupsd.conf" <<CONF
LogLevel debug
MaxLogSize 0
Listen $work/cupsd.sock
Listen 127.0.0.1:$port
Browsing Off
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF

  note "starting cupsd on $CUPS_SERVER and 127.0.0.1:$port"
  cupsd -f -c "$work/etc/cupsd.conf" -s "$work/etc/cups-files.conf" \
    >"$work/log/cupsd.out" 2>&1 &
  cupsd_pid=$!
  wait_for 30 scheduler_running || fail "cupsd did not start"
}

scheduler_running() {
  kill -0 "$cupsd_pid" 2>/dev/null || fail "cupsd exited: $(cat "$work/log/cupsd.out")"
  lpstat -r 2>/dev/null | grep -q 'is running'
}

# stop_private_cupsd EXIT_STATUS: stops the scheduler we started, by its
# process id; after a failure it shows the end of the scheduler's log.
stop_private_cupsd() {
  if [ -n "${cupsd_pid:-}" ]; then
    kill "$cupsd_pid" 2>/dev/null || true
    wait "$cupsd_pid" 2>/dev/null || true
    cupsd_pid=
  fi
  if [ "$1" -ne 0 ] && [ -f "$work/log/error_log" ]; then
    echo "--- last lines of the scheduler's error_log" >&2
    grep -v '^d ' "$work/log/error_log" | tail -n 40 >&2 || true
  fi
}

# job_id OUTPUT_OF_LP: the job number from "request id is QUEUE-N (1 file(s))".
job_id() {
  sed -n 's/^request id is .*-\([0-9][0-9]*\) .*/\1/p' <<<"$1"
}
job_log() {
  grep -F "[Job $1]" "$work/log/error_log" || true
}

# wait_for_job QUEUE ID: waits until the job has left the queue, and fails
# unless the scheduler says it completed.
wait_for_job() {
  local queue=$1 id=$2
  wait_for 300 bash -c "! lpstat -o $queue 2>/dev/null | grep -q -- '-$id '" ||
    fail "job $id did not finish"
  job_log "$id" | grep -q 'Job completed' ||
    { job_log "$id" | grep -v '^d ' | tail -n 20 >&2; fail "job $id did not complete"; }
}

# The set-up of a test with a private scheduler: a work directory that user lp
# can reach (filters run as lp: they must reach the ServerBin, PPD and spool),
# the staged install, the scheduler; all of it goes again when the test ends.
start_scheduler_test() {
  local name=$1 build=$2
  work=$(mktemp -d "/tmp/zeru-$name.XXXXXX")
  chmod 0755 "$work"
  trap end_scheduler_test EXIT
  stage_install "$build"
  start_private_cupsd
}

end_scheduler_test() {
  local status=$?
  stop_private_cupsd "$status"
  unstage
  rm -rf "$work"
}
