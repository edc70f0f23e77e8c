#!/usr/bin/env bash
# Builds the Debian package of both programs and prints its path as the last line.
#   packaging/build-package.sh [BUILD_DIR]     (default build-package; ./go package calls this)
# A Release build of the programs alone, with Debian's hardening flags; the build directory
# is kept, so a second run only rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build-package}

# Debian's default build flags plus all hardening (bindnow, PIE, fortify, stack protector),
# as a package built by dpkg-buildpackage would get them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

# Configured every time so that flags and options stay as written here; an unchanged
# configuration rebuilds nothing.
cmake -G Ninja -S . -B "$build_dir" \
    -DCMAKE_BUILD_TYPE=Release \
    -DPANEL_BUILD_TESTS=OFF -DPANEL_BUILD_BENCH=OFF -DPANEL_BUILD_FUZZ=OFF -DPANEL_SANITIZE=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >&2
cmake --build "$build_dir" -j "$(nproc)" --target panel_package_contents >&2

rm -f "$build_dir"/package/*.deb
(cd "$build_dir" && cpack -G DEB >&2)

debs=("$build_dir"/package/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "build-package: expected one .deb in $build_dir/package, found: ${debs[*]}" >&2
    exit 1
fi
realpath "${debs[0]}"
