#!/usr/bin/env bash
# Puts the stand-in Runtime and the command recorder into the test Wine prefix:
#   standin_runtime_setup.sh WINE STANDIN_RUNTIME_DLL COMMAND_RECORDER_EXE STANDIN_DEPLOY
# C:\trevalon-standin\ receives them and standin-deploy, the Linux program that does the
# stand-in's deployments in its store (C:\trevalon-standin\store\, made by the first one); the
# stand-in's classes are registered for activation;
# the recorder handles the launch URI scheme trevalon-e2e and, copied over Wine's do-nothing
# stub, stands for Windows PowerShell (ShellExecuteW "powershell" finds it on the path).
set -euo pipefail
wine=$1 dll=$2 recorder=$3 deploy=$4

drive_c=$("$wine" winepath -u 'C:\' | tr -d '\r')
mkdir -p "$drive_c/trevalon-standin"
cp "$dll" "$drive_c/trevalon-standin/standin-runtime.dll"
cp "$recorder" "$drive_c/trevalon-standin/command-recorder.exe"
cp "$deploy" "$drive_c/trevalon-standin/standin-deploy"
cp "$recorder" "$drive_c/windows/system32/WindowsPowerShell/v1.0/powershell.exe"

registry=$(mktemp --suffix=.reg)
trap 'rm -f "$registry"' EXIT
{
  echo 'REGEDIT4'
  for class in Windows.Management.Deployment.PackageManager Windows.Foundation.Uri \
    Windows.Storage.ApplicationData Windows.ApplicationModel.Package; do
    echo "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\WindowsRuntime\\ActivatableClassId\\$class]"
    echo '"DllPath"="C:\\trevalon-standin\\standin-runtime.dll"'
    echo '"ActivationType"=dword:00000000'
  done
  echo '[HKEY_CLASSES_ROOT\trevalon-e2e]'
  echo '@="URL:trevalon-e2e"'
  echo '"URL Protocol"=""'
  echo '[HKEY_CLASSES_ROOT\trevalon-e2e\shell\open\command]'
  echo '@="\"C:\\trevalon-standin\\command-recorder.exe\" \"%1\" %*"'
} >"$registry"
"$wine" reg import "$("$wine" winepath -w "$registry" | tr -d '\r')" >/dev/null 2>&1 ||
  { echo "standin_runtime_setup: reg import failed" >&2; exit 1; }
