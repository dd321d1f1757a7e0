#!/usr/bin/env bash
# Builds the Debian package as scripts/package.sh does and checks it as Debian would: lintian finds
# no error, the menu entry and the AppStream metadata validate, the package depends on no -dev
# package, compiler or server, and it holds what an install for everyone needs where it belongs.
#   tests/package/check_package.sh            builds first
#   tests/package/check_package.sh --no-build checks the .deb already in build-deb/
set -euo pipefail
cd "$(dirname "$0")/../.."

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

[ "${1:-}" = --no-build ] || bash scripts/package.sh
shopt -s nullglob
debs=(build-deb/halvenna_*.deb)
shopt -u nullglob
if [ "${#debs[@]}" -ne 1 ]; then
    echo "FAIL: expected one build-deb/halvenna_*.deb, found ${#debs[@]}" >&2
    exit 1
fi
deb=${debs[0]}
echo "Checking $deb"

# The version is the project's.
version=$(sed -n 's/^project(Halvenna VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), project $version"
[ "$(dpkg-deb -f "$deb" Package)" = halvenna ] || fail "package name $(dpkg-deb -f "$deb" Package)"
grep -q "<release version=\"$version\"" desktop/org.halvenna.kelvaro.metainfo.xml ||
    fail "the AppStream metadata has no release $version"

# What it depends on: computed libraries and the font; nothing to build with, no server.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
echo "Recommends: $(dpkg-deb -f "$deb" Recommends)"
echo "Suggests: $(dpkg-deb -f "$deb" Suggests)"
IFS=',' read -ra items <<<"$depends"
for item in "${items[@]}"; do
    for alternative in ${item//|/ }; do
        name=${alternative%%(*}
        name=${name%%:*}
        case "$name" in
            '' | '('* | *')' | '>='* | '<='* | '='* | '>>'* | '<<'*) ;; # a version, not a package
            *-dev | gcc* | g++* | cpp* | clang* | build-essential | cmake | ninja-build | make | \
                postgresql | postgresql-1[0-9]* | cups | cups-daemon | cupsd)
                fail "Depends names $name" ;;
        esac
    done
done
grep -qw fonts-ipafont-gothic <<<"$depends" || fail "Depends lacks fonts-ipafont-gothic"
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends lacks the computed Qt libraries"
[ "$(dpkg-deb -f "$deb" Recommends)" = skkdic-extra ] || fail "Recommends is not skkdic-extra"
[ "$(dpkg-deb -f "$deb" Suggests)" = "cups, postgresql-client" ] || fail "Suggests is not cups, postgresql-client"

# Where the files are.
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|')
for path in /usr/bin/Kelvaro /usr/bin/halvenna_mktables \
    /usr/share/halvenna/templates/Invoice.Rav /usr/share/halvenna/templates/Account.Rav \
    /usr/share/halvenna/Dostrel/MemberMaster.db /usr/share/halvenna/Dostrel/Contents.db \
    /usr/share/halvenna/Dostrel/Account.db /usr/share/halvenna/Dostrel/PrintMember.db \
    /usr/share/applications/org.halvenna.kelvaro.desktop /usr/share/metainfo/org.halvenna.kelvaro.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/org.halvenna.kelvaro.svg; do
    grep -qx "$path" <<<"$contents" || fail "the package lacks $path"
done
for size in 16 22 24 32 48 64 128 256; do
    grep -qx "/usr/share/icons/hicolor/${size}x${size}/apps/org.halvenna.kelvaro.png" <<<"$contents" ||
        fail "the package lacks the ${size}x${size} icon"
done
if grep -E '^/usr/share/halvenna/.*\.(ini|txt)$|/Dostrel/backup|/(tests?|bench)/|tst_|bench_' <<<"$contents"; then
    fail "the package holds a user's file, a test or a benchmark"
fi

# The menu entry and the metadata as installed, and the tables laid out empty.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/org.halvenna.kelvaro.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/org.halvenna.kelvaro.metainfo.xml" || fail "appstreamcli validate"
grep -qx 'Name\[ja\]=送り状印刷' "$unpacked/usr/share/applications/org.halvenna.kelvaro.desktop" || fail "the menu entry's Japanese name"
grep -qx 'Categories=Office;' "$unpacked/usr/share/applications/org.halvenna.kelvaro.desktop" || fail "the menu entry's category"
for table in MemberMaster Contents Account PrintMember; do
    head -c 16 "$unpacked/usr/share/halvenna/Dostrel/$table.db" | grep -q 'SQLite format 3' ||
        fail "$table.db is not an SQLite file"
done

# lintian: no error (the warnings that remain are printed and listed in the package's notes).
lintian_out=$(lintian --fail-on none "$deb" 2>&1)
echo "$lintian_out"
if grep -q '^E:' <<<"$lintian_out"; then
    fail "lintian reports errors"
fi

if ((failures)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "The package passes."
