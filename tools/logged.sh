# Sourced by the build and test scripts: a long command whose output goes to
# a log, with a line at least every 30 s (the build's own percentage where it
# prints one) and the log's end when it fails.
#   logged LABEL LOG COMMAND...            the command's output is the log
#   LOGGED_PROGRESS=FILE logged ...         progress read from FILE instead

# The last progress a build printed: make's "[ 45%]", ninja's "[12/345]".
# Nothing, and no failure, where there is none (cpack prints none): under
# pipefail a grep that finds nothing would end the script that asked.
progress_of() {
  { tail -c 4096 "$1" 2>/dev/null || true; } | tr '\r' '\n' |
    { grep -oE '^\[ *[0-9]+%\]|^\[[0-9]+/[0-9]+\]' || true; } | tail -n 1 |
    awk -F'[][/%]+' '{ if ($3 != "") printf "%d%%", 100 * $2 / $3; else printf "%d%%", $2 }'
}

logged() {
  local label=$1 log=$2
  shift 2
  local from=${LOGGED_PROGRESS:-$log} start=$SECONDS next=$((SECONDS + 30)) pid status
  "$@" >"$log" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$SECONDS" -ge "$next" ]; then
      local done
      done=$(progress_of "$from")
      echo "$label: ${done:-working}, $((SECONDS - start)) s (log: $log)"
      next=$((SECONDS + 30))
    fi
    sleep 1
  done
  wait "$pid" && status=0 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "$label failed (status $status); the whole log: $log" >&2
  fi
  return "$status"
}
