#!/bin/sh
# check_dll_interfaces.sh OBJDUMP FILE...: each Windows extension file imports only from
# the host's libmx.dll, libmex.dll and libut.dll and from system DLLs every Windows has, and
# exports mexFunction and nothing else. Prints what is wrong; exits 1 then.
objdump=$1
shift
status=0
for file in "$@"; do
  imports=$("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for dll in $imports; do
    case "$dll" in
      kernel32.dll|msvcrt.dll|libmx.dll|libmex.dll|libut.dll) ;;
      *) echo "$file imports $dll, which a MATLAB user may not have"; status=1 ;;
    esac
  done
  exports=$("$objdump" -p "$file" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
  if [ "$exports" != "mexFunction" ]; then
    echo "$file exports: $exports (only mexFunction expected)"
    status=1
  fi
  echo "$file: imports $(echo $imports | tr '\n' ' '); exports $exports"
done
exit $status
