#!/usr/bin/env bash
# Builds the Debian package from the working tree and leaves it in build-deb/:
#   scripts/package.sh            then: sudo apt install ./build-deb/halvenna_*.deb
# The build runs on a copy of the tree (build-deb/halvenna-<version>/), so the source stays clean;
# the files git ignores (build folders, dist/) are not copied.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh package

version=$(sed -n 's/^project(Halvenna VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog=$(dpkg-parsechangelog -S Version)
if [ "$version" != "$changelog" ]; then
    echo "debian/changelog says $changelog, CMakeLists.txt says $version: add a changelog entry (dch -v $version)" >&2
    exit 1
fi

out=build-deb
tree="$out/halvenna-$version"
rm -rf "$out"
mkdir -p "$tree"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # Tracked and new files as they stand now, without what git ignores; a file deleted but not yet
    # committed stays out.
    git ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
        tar --null -T - -cf - | tar -xf - -C "$tree"
else
    tar --exclude='./build*' --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$tree"
fi

# One package: no separate debug-symbol package beside it.
DEB_BUILD_OPTIONS="noddebs parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
export DEB_BUILD_OPTIONS
(cd "$tree" && dpkg-buildpackage -us -uc -b)
rm -rf "$tree"
ls -1 "$out"/halvenna_*.deb
