#!/usr/bin/env bash
# The printing core lives in long-running processes beside other jobs: it
# writes nothing to the process's standard output or standard error and
# reads no environment variable (nor $TMPDIR through a temporary-file
# helper). Whatever it has to say or needs to know goes through its callers:
# results, log callbacks, options. Comments are not looked at.
set -euo pipefail
src=${1:?usage: core_process_state_test.sh SOURCE_DIR}
cd "$src"

forbidden='\b(getenv|secure_getenv|environ|stdout|stderr|perror|STDOUT_FILENO|STDERR_FILENO|cupsTempFd|cupsTempFile2?|tmpfile|tmpnam|tempnam)\b'
forbidden+='|std::(cout|cerr|clog)\b'
# printf and its kin without a stream or buffer argument write to stdout.
forbidden+='|(^|[^[:alnum:]_])(printf|vprintf|puts|putchar)[[:space:]]*\('

status=0
for dir in settings status stream imaging jbig job include; do
  [ -d "$dir" ] || { echo "missing core folder $dir/" >&2; status=1; continue; }
  while IFS= read -r -d '' file; do
    # Line comments and the text of block comment lines are dropped first.
    hits=$(sed -E -e 's://.*$::' -e 's:^[[:space:]]*(/\*|\*).*$::' "$file" |
           grep -nE "$forbidden" || true)
    [ -z "$hits" ] && continue
    while IFS= read -r hit; do
      echo "$file:$hit: the core reaches for the process's streams or environment" >&2
    done <<<"$hits"
    status=1
  done < <(find "$dir" -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
done
exit "$status"
