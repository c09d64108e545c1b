#!/usr/bin/env bash
# Only platform/ (and the executable's entry) may include SDL or OS headers.
set -euo pipefail
cd "$(dirname "$0")/.."
pattern='#\s*include\s*[<"](SDL|sys/|unistd\.h|fcntl\.h|dirent\.h|pthread\.h|iconv\.h|windows\.h|dlfcn\.h|spawn\.h|signal\.h|poll\.h)'
if grep -rEn "$pattern" core storage script layers renderer sound effects system tools 2>/dev/null; then
  echo "error: OS or SDL headers outside platform/ (listed above)" >&2
  exit 1
fi
