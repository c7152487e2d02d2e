#!/usr/bin/env bash
# Builds the Debian package: sets up the machine, makes a Release build in build-package/ (or
# PACKAGE_BUILD_DIR) with Debian's hardening flags, and writes quorvale_<version>_<arch>.deb into
# this folder with CPack. Install it with: apt install ./quorvale_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir="${PACKAGE_BUILD_DIR:-build-package}"

# The compiler and linker flags a Debian package build uses (stack protector, fortified
# functions, read-only relocations, immediate binding).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUORVALE_BUILD_TESTS=OFF -DQUORVALE_BUILD_BENCH=OFF -DQUORVALE_SOURCE_HELP=OFF >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
rm -f "$build_dir"/quorvale_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
deb="$(cd "$build_dir" && ls quorvale_*.deb)"
mv "$build_dir/$deb" .
echo "package: $(pwd)/$deb"
