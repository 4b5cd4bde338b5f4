#!/usr/bin/env bash
# The libraries the shipped programs import at load time: only KnownDLLs (which Windows takes
# from the system folder whatever lies beside a program), API sets, comctl32 (which the manifest
# binds to the system's side-by-side copy) and, for launcher.exe, jvm.dll, the package's own.
# Anything else would be looked for beside the program first.
#   imports_test.sh OBJDUMP PELLORA_EXE LAUNCHER_EXE
set -euo pipefail
objdump=$1 pellora=$2 launcher=$3

known='kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|combase|shlwapi|msvcrt|comctl32|api-ms-win-[a-z0-9-]+'
status=0
for program in "$pellora" "$launcher"; do
  allowed=$known
  [ "$program" = "$launcher" ] && allowed="$known|jvm"
  imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
  [ -n "$imports" ] || { echo "imports test: no import table read from $program" >&2; exit 1; }
  while read -r dll; do
    if ! grep -q -i -x -E "($allowed)\.dll" <<<"$dll"; then
      echo "imports test: $(basename "$program") imports $dll at load time" >&2
      status=1
    fi
  done <<<"$imports"
  echo "$(basename "$program"): $(tr '\n' ' ' <<<"$imports")"
done
exit "$status"
