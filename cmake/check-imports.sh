#!/usr/bin/env bash
# Fails when a Windows binary imports anything but system DLLs.
set -euo pipefail
allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|wininet|shlwapi|shell32|comctl32|comdlg32|windowscodecs|uuid|msvcrt|ws2_32|crypt32|bcrypt|version|api-ms-win-.*)\.dll$'
bad=$(x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {print tolower($3)}' | grep -Ev "$allowed" || true)
if [ -n "$bad" ]; then
  echo "$1 imports non-system DLLs: $bad" >&2
  exit 1
fi
