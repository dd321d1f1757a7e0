#!/usr/bin/env bash
# The install step's templates: a fresh folder gets both copies; a template the user changed survives
# a second install while the shipped copy beside it is renewed; an unchanged one follows the new
# shipped template.
set -euo pipefail
script="$1"
source_dir="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
shipped="$work/shipped"
prefix="$work/prefix"
mkdir -p "$shipped"
cp "$source_dir/Invoice.Rav" "$source_dir/Account.Rav" "$shipped/"
install_once() { cmake -DTEMPLATE_SOURCE="$shipped" -DTEMPLATE_PREFIX="$prefix" -P "$script" >/dev/null; }
fail() { echo "FAIL: $*" >&2; exit 1; }

install_once
for name in Invoice.Rav Account.Rav; do
    cmp -s "$prefix/$name" "$shipped/$name" || fail "$name not installed"
    cmp -s "$prefix/templates/$name" "$shipped/$name" || fail "templates/$name not installed"
done

# The user lays the waybill out anew; then a new version of the program ships changed templates.
echo "# moved by the user" >> "$prefix/Invoice.Rav"
cp "$prefix/Invoice.Rav" "$work/users.Rav"
echo "# a new release" >> "$shipped/Invoice.Rav"
echo "# a new release" >> "$shipped/Account.Rav"
install_once
cmp -s "$prefix/Invoice.Rav" "$work/users.Rav" || fail "the user's Invoice.Rav was overwritten"
cmp -s "$prefix/templates/Invoice.Rav" "$shipped/Invoice.Rav" || fail "templates/Invoice.Rav not renewed"
cmp -s "$prefix/Account.Rav" "$shipped/Account.Rav" || fail "the unchanged Account.Rav did not follow the release"

# A working copy from an install that kept no shipped copy is the user's as well.
rm -rf "$prefix/templates"
echo "# older" > "$prefix/Account.Rav"
install_once
[ "$(cat "$prefix/Account.Rav")" = "# older" ] || fail "a template without a shipped copy beside it was overwritten"
echo "ok"
