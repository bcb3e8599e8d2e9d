#!/usr/bin/env bash
# Fails unless the exe imports only DLLs that every Windows PC has.
set -euo pipefail
exe=$1
allowed='^(kernel32|user32|gdi32|comctl32|gdiplus|shlwapi|winhttp|ole32|oleaut32|advapi32|shell32|msvcrt|ws2_32|crypt32|bcrypt|wtsapi32|dwmapi|ntdll)\.dll$'
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$dlls" ] || { echo "no imports found in $exe"; exit 1; }
bad=$(grep -v -E "$allowed" <<<"$dlls" || true)
echo "$exe imports:" $dlls
if [ -n "$bad" ]; then echo "not a Windows system DLL: $bad"; exit 1; fi
