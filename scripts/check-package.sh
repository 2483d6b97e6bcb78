#!/usr/bin/env bash
# check-package.sh [BUILD_DIR]: builds the Debian package from a configured and
# built tree (default build-test), unpacks it into a temporary root and checks
# that the programs run from there and that every installed part is in place.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-test}")

fail() {
    echo "check-package: $*" >&2
    exit 1
}

if ! log=$(cd "$build" && cpack -G DEB 2>&1); then
    echo "$log" >&2
    fail "cpack failed"
fi
version=$(sed -n 's/^project(update VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
package=$build/instrument-update_${version}_$(dpkg --print-architecture).deb
[[ -f $package ]] || fail "no package $package"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$package" "$root"

[[ $(dpkg-deb -f "$package" Version) == "$version" ]] || fail "package version is not $version"
[[ -n $(dpkg-deb -f "$package" Depends) ]] || fail "package names no dependencies"

console=$root/usr/bin/update-console
[[ $("$console" --version) == "update-console $version" ]] || fail "--version gives the wrong text"
help=$("$console" --help)
for option in --dir --ports --list-ports --json --version; do
    grep -q -- "$option" <<<"$help" || fail "--help does not name $option"
done

expected=(
    usr/bin/instrument-sim
    usr/share/update/Update.Deu
    usr/share/update/Update.Eng
    usr/share/man/man1/update-console.1
)
if [[ -x $build/frontends/qt/Update ]]; then
    expected+=(
        usr/bin/Update
        usr/share/applications/update.desktop
        usr/share/icons/hicolor/scalable/apps/update.svg
        usr/share/man/man1/Update.1
    )
    [[ $(QT_QPA_PLATFORM=offscreen "$root/usr/bin/Update" --version) == "Update $version" ]] ||
        fail "Update --version gives the wrong text"
fi
for file in "${expected[@]}"; do
    [[ -e $root/$file ]] || fail "$file is missing from the package"
done
# man reports roff errors on standard error.
if command -v man >/dev/null; then
    for page in "$root"/usr/share/man/man1/*.1; do
        errors=$(man --warnings -l "$page" 2>&1 >/dev/null || true)
        [[ -z $errors ]] || fail "$(basename "$page"): $errors"
    done
fi
echo "package $(basename "$package") checked"
