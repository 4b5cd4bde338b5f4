#!/usr/bin/env bash
# The libraries the shipped programs import at load time: only KnownDLLs (which Windows takes
# from the system folder whatever lies beside a program), API sets, comctl32 (which the manifest
# binds to the system's side-by-side copy) and, for launcher.exe, jvm.dll, the package's own.
# Anything else would be looked for beside the program first. pellora.exe takes its package
# identity from KERNEL32's GetCurrentPackageFullName and carries nothing of the test-only identity
# variant (PELLORA_IDENTITY_EXE), which answers it itself.
#   imports_test.sh OBJDUMP PELLORA_EXE LAUNCHER_EXE PELLORA_IDENTITY_EXE
set -euo pipefail
objdump=$1 pellora=$2 launcher=$3 variant=$4

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
# The function each program imports by name, with the library it comes from.
imported_from() {  # PROGRAM FUNCTION
  "$objdump" -p "$1" | awk -v name="$2" '/DLL Name:/ { dll = $3 } $NF == name { print dll }'
}
[ "$(imported_from "$pellora" GetCurrentPackageFullName)" = KERNEL32.dll ] ||
  { echo "imports test: pellora.exe does not import GetCurrentPackageFullName from KERNEL32" >&2; status=1; }
[ -z "$(imported_from "$variant" GetCurrentPackageFullName)" ] ||
  { echo "imports test: the identity variant imports GetCurrentPackageFullName" >&2; status=1; }
if grep -a -q -i -E 'stand-?in' "$pellora"; then
  echo "imports test: pellora.exe contains stand-in text" >&2
  status=1
fi
exit "$status"
