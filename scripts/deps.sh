#!/usr/bin/env bash
# Installs the Debian packages a task needs, but only those missing:
#   scripts/deps.sh run       building the program and running it (./run.sh)
#   scripts/deps.sh package   that, and Debian's packaging tools and checks (scripts/package.sh)
#   scripts/deps.sh test      everything: that, and what the tests start or read (./test.sh, .ci/run)
set -euo pipefail
task=${1:-test}

# Building: the compiler, CMake and Ninja, Qt 6 with its PDF module, SQLite and libpq (the program
# links both). Running: the Japanese font the forms are printed in, Qt's Japanese texts for its own
# dialogs, and the SKK postal-code dictionary the lookup falls back on.
run=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-base-dev-tools qt6-pdf-dev libgl1-mesa-dev
    libsqlite3-dev libpq-dev
    qt6-translations-l10n fonts-ipafont-gothic skkdic-extra
)
# Building the .deb and checking it: debhelper and dpkg-buildpackage, lintian, and the validators of
# the menu entry and of the AppStream metadata.
package=(
    devscripts debhelper lintian desktop-file-utils appstream
)
# The tests: the benchmarks' library, the sqlite3 shell and openssl the fault and server tests use,
# Xvfb and the tools the end-to-end tests drive the program with, a CUPS server with a PDF printer,
# a PostgreSQL server, and clang for the fuzzers and the format check.
test=(
    libgtest-dev libbenchmark-dev sqlite3 openssl
    xvfb xauth xdotool poppler-utils python3 python3-xlib
    cups cups-client cups-bsd printer-driver-cups-pdf
    postgresql
    clang libclang-rt-14-dev clang-format
)
case "$task" in
    run) packages=("${run[@]}") ;;
    package) packages=("${run[@]}" "${package[@]}") ;;
    test) packages=("${run[@]}" "${package[@]}" "${test[@]}") ;;
    *)
        echo "usage: scripts/deps.sh run|package|test" >&2
        exit 2
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
