#!/usr/bin/env bash
# Fails unless the exe imports only DLLs that every Windows PC has, and none
# of the calls that Windows 7 SP1 lacks (the program looks those up at run
# time: imported, they would keep it from starting at all there). The build
# makes most of them compile errors; this also catches one that a library
# linked in brings.
set -euo pipefail
exe=$1
allowed='^(kernel32|user32|gdi32|comctl32|gdiplus|shlwapi|winhttp|ole32|oleaut32|advapi32|shell32|msvcrt|ws2_32|crypt32|bcrypt|wtsapi32|dwmapi|ntdll)\.dll$'
newer_than_7='^(SetDefaultDllDirectories|AddDllDirectory|RemoveDllDirectory|SetProcessMitigationPolicy|GetProcessMitigationPolicy|GetSystemTimePreciseAsFileTime|CreateFile2|WaitOnAddress|WakeByAddressSingle|WakeByAddressAll|GetCurrentPackageId|GetCurrentPackageFullName|SetThreadDescription|GetThreadDescription|GetDpiForWindow|GetDpiForSystem|SetProcessDpiAwarenessContext|SetThreadDpiAwarenessContext|AddClipboardFormatListenerEx|GetPointerType|EnableMouseInPointer|CreateRemoteThreadEx|PrefetchVirtualMemory|SetProcessInformation|GetProcessInformation|ShutdownBlockReasonQueryEx|DiscardVirtualMemory|OfferVirtualMemory)$'
listing=$(x86_64-w64-mingw32-objdump -p "$exe")
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$listing" | tr 'A-Z' 'a-z')
[ -n "$dlls" ] || { echo "no imports found in $exe"; exit 1; }
bad=$(grep -v -E "$allowed" <<<"$dlls" || true)
echo "$exe imports:" $dlls
if [ -n "$bad" ]; then echo "not a Windows system DLL: $bad"; exit 1; fi
# The import lines: address, hint, name.
calls=$(sed -n -E 's/^\s+[0-9a-f]+\s+[0-9]+\s+([A-Za-z0-9_]+)$/\1/p' <<<"$listing")
[ -n "$calls" ] || { echo "no imported calls found in $exe"; exit 1; }
newer=$(grep -E "$newer_than_7" <<<"$calls" || true)
if [ -n "$newer" ]; then echo "imports calls that Windows 7 lacks:" $newer; exit 1; fi
echo "$(wc -l <<<"$calls") calls imported, none newer than Windows 7"
