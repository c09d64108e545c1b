#!/usr/bin/env bash
# The engine's folders depend one way only, bottom to top:
#   base → platform → core → storage → script → layers → images → sound →
#   system → renderer → effects → engine → app
# A file may include headers of its own folder and of the folders before it
# in that order; tools/, tests/ and bench/ sit on top and may include any.
# Only platform/ (and app/'s entry) may include SDL or OS headers; base/ may
# use iconv, part of the C library.
# The build enforces the order too (each folder compiles against an include
# root holding only the folders below it); this check names every offending
# line at once, before anything compiles.
set -euo pipefail
cd "$(dirname "$0")/.."
order=(base platform core storage script layers images sound system renderer effects engine app)
status=0

rank() {
    local i
    for i in "${!order[@]}"; do
        [[ "${order[$i]}" == "$1" ]] && { echo "$i"; return; }
    done
    echo -1
}

for folder in "${order[@]}"; do
    [[ -d "$folder" ]] || continue
    own=$(rank "$folder")
    while IFS= read -r hit; do
        file=${hit%%:*}
        rest=${hit#*:}
        line=${rest%%:*}
        included=$(sed -nE 's/.*#\s*include\s*"([a-z_]+)\/.*/\1/p' <<<"${rest#*:}")
        [[ -z "$included" ]] && continue
        their=$(rank "$included")
        if (( their < 0 )); then
            echo "$file:$line: includes $included/, which is not an engine folder" >&2
            status=1
        elif (( their > own )); then
            echo "$file:$line: $folder/ includes $included/, a folder above it" >&2
            status=1
        fi
    done < <(grep -rnE '#\s*include\s*"[a-z_]+/' "$folder" --include='*.cpp' --include='*.h' || true)
done

os_headers='#\s*include\s*[<"](SDL|sys/|unistd\.h|fcntl\.h|dirent\.h|pthread\.h|iconv\.h|windows\.h|dlfcn\.h|spawn\.h|signal\.h|poll\.h)'
for folder in core storage script layers images sound system renderer effects engine tools; do
    [[ -d "$folder" ]] || continue
    if grep -rEn "$os_headers" "$folder" >&2; then
        echo "error: OS or SDL headers outside platform/ (listed above)" >&2
        status=1
    fi
done
if grep -rEn "$os_headers" base | grep -v 'iconv\.h' >&2; then
    echo "error: OS or SDL headers in base/ (listed above)" >&2
    status=1
fi
(( status == 0 )) || echo "error: the folders' dependency order is broken (listed above)" >&2
exit $status
