#!/bin/bash
# Builds a release of quenzil.exe and quenzilc.exe, with every host and
# interval at its default, and writes the Windows download
#   dist/quenzil-<version>-win64.zip
# holding the two programs, 使用说明.txt and 许可.txt (not the link maps the
# build leaves beside the programs). The version is the
# project's (CMakeLists.txt), the one the programs' version resource shows.
# Two runs on the same commit give the same zip, byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${QUENZIL_PACKAGE_BUILD:-build/release}

# -U drops whatever an earlier configuration of this folder set, so the
# deployment values are always the defaults.
cmake -S . -B "$build" -U 'QUENZIL_*' -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DQUENZIL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target quenzil quenzilc

# Every object the link took from the toolchain's libraries must have its
# notice in the licences (the link maps say which went in).
python3 scripts/linked-licences.py --licences res/licences.txt \
  --program "$build/quenzil.exe" --program "$build/quenzilc.exe" \
  "$build/quenzil.map" "$build/quenzilc.map"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "package.sh: no project version in $build/CMakeCache.txt" >&2; exit 1; }
# The entries carry the commit's time, so that the zip depends on the
# sources alone.
stamp=$(git log -1 --format=%ct 2>/dev/null || echo "${SOURCE_DATE_EPOCH:-315532800}")
mkdir -p dist
zip=dist/quenzil-$version-win64.zip
python3 scripts/package.py --readme README.md --licences res/licences.txt --time "$stamp" \
  --out "$zip" "$build/quenzil.exe" "$build/quenzilc.exe"
echo "$zip"
