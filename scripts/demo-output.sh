# The demo scripts' way of talking: numbered steps in bold, indented notes, and a failure that
# says what went wrong and ends the script. Sourced by scripts/demo and scripts/demo-windows.
if [ -t 1 ]; then
  bold=$'\033[1m'
  plain=$'\033[0m'
else
  bold=
  plain=
fi
step_number=0
step() {
  step_number=$((step_number + 1))
  printf '\n%s%d. %s%s\n' "$bold" "$step_number" "$1" "$plain"
  shift
  local line
  for line in "$@"; do printf '   %s\n' "$line"; done
}
note() { printf '   %s\n' "$@"; }
fail() {
  printf '\n%sThe demo failed: %s%s\n' "$bold" "$*" "$plain" >&2
  exit 1
}
