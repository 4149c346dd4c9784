#!/usr/bin/env bash
# Each Windows executable needs nothing beside it: it imports only DLLs every Windows has.
# A runtime linked dynamically by mistake (libstdc++-6.dll, libwinpthread-1.dll, an ICU DLL)
# would work here, where Wine finds the toolchain's copies, and fail on a clean Windows.
set -euo pipefail
objdump="$1"
shift
status=0
for exe in "$@"; do
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | user32.dll | advapi32.dll | msvcrt.dll | ntdll.dll) ;;
      *)
        echo "$exe imports $dll, which a clean Windows does not have"
        status=1
        ;;
    esac
  done < <("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')
done
exit $status
