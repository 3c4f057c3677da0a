# Sourced: starts Xvfb on a display no other X server holds. Xvfb picks
# the number itself (-displayfd), so runs side by side on one machine never
# share a display, as they could when a script picked a free-looking one.
#   start_virtual_display 1280x1024x24   sets and exports DISPLAY, sets xvfb_pid
start_virtual_display() {
  local number_file
  number_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  # The number is written once the server listens.
  for _ in $(seq 100); do [ -s "$number_file" ] && break; sleep 0.1; done
  DISPLAY=:$(tr -d '\n' <"$number_file")
  rm -f "$number_file"
  [ "$DISPLAY" != : ] || { echo "Xvfb did not start in 10 s" >&2; return 1; }
  export DISPLAY
}
