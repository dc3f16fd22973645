#!/bin/sh
# Fails when the program loads at start a DLL that Windows does not know by
# name: the loader would look for it in the program's own folder first, where
# a download may have put one. Such DLLs are delay-loaded (cmake/delay_load.cmake).
# comctl32 is bound to the system's copy by the program's manifest.
#   check_start_imports.sh <objdump> <program.exe>
set -eu
known="advapi32 clbcatq combase comctl32 comdlg32 coml2 gdi32 gdiplus imagehlp imm32 kernel32
 msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi
 user32 wldap32 ws2_32"
known=" $(echo $known) "
names=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)\.[dD][lL][lL]$/\1/p' |
    tr 'A-Z' 'a-z')
[ -n "$names" ] || { echo "no imports read from $2" >&2; exit 1; }
status=0
for name in $names; do
    case "$known" in
    *" $name "*) ;;
    *) echo "loaded at start from the program's folder first: $name.dll" >&2; status=1 ;;
    esac
done
exit $status
