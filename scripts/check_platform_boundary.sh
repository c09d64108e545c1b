#!/usr/bin/env bash
# Layering: only platform/ (and the executable's entry) may include SDL or OS
# headers; platform/ builds on base/ alone, and base/ on nothing of ours.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
pattern='#\s*include\s*[<"](SDL|sys/|unistd\.h|fcntl\.h|dirent\.h|pthread\.h|iconv\.h|windows\.h|dlfcn\.h|spawn\.h|signal\.h|poll\.h)'
if grep -rEn "$pattern" core storage script layers renderer sound effects system tools 2>/dev/null; then
  echo "error: OS or SDL headers outside platform/ (listed above)" >&2
  status=1
fi
# base/ converts text through iconv (part of the C library); nothing else.
if grep -rEn "$pattern" base 2>/dev/null | grep -v 'iconv\.h'; then
  echo "error: OS or SDL headers in base/ (listed above)" >&2
  status=1
fi
if grep -rEn '#\s*include\s*"' platform | grep -vE '#\s*include\s*"(platform|base)/'; then
  echo "error: platform/ includes engine code (listed above); it may use base/ only" >&2
  status=1
fi
if grep -rEn '#\s*include\s*"' base | grep -vE '#\s*include\s*"base/'; then
  echo "error: base/ includes code above it (listed above)" >&2
  status=1
fi
exit $status
