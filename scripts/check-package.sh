#!/usr/bin/env bash
# check-package.sh [BUILD_DIR]: builds the Debian packages from a configured and
# built tree (default build-test), checks each with lintian (no error, no
# warning), unpacks the console and simulator packages alone into a temporary
# root and runs them from there: the console must not need Qt, and an update of
# the packaged simulator by the packaged console must succeed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-test}")

fail() {
    echo "check-package: $*" >&2
    exit 1
}

rm -f "$build"/instrument-update*.deb
if ! log=$(cd "$build" && cpack -G DEB 2>&1); then
    echo "$log" >&2
    fail "cpack failed"
fi
version=$(sed -n 's/^project(update VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
deb() { echo "$build/$1_${version}_${arch}.deb"; }
packages=(instrument-update instrument-update-simulator)
[[ -x $build/frontends/qt/instrument-update-gui ]] && packages+=(instrument-update-gui)

for package in "${packages[@]}"; do
    file=$(deb "$package")
    [[ -f $file ]] || fail "no package $file"
    [[ $(dpkg-deb -f "$file" Version) == "$version" ]] || fail "$package: version is not $version"
    [[ -n $(dpkg-deb -f "$file" Depends) ]] || fail "$package names no dependencies"
    changelog=$(dpkg-deb --fsys-tarfile "$file" |
        tar -xOf - "./usr/share/doc/$package/changelog.gz" | gunzip | head -n 1)
    [[ $changelog == "instrument-update ($version) "* ]] ||
        fail "$package: the changelog's first entry is not $version: $changelog"
done
if dpkg-deb -f "$(deb instrument-update)" Depends | grep -Eiq 'qt|libssl|libcrypto'; then
    fail "the console package depends on Qt or OpenSSL: $(dpkg-deb -f "$(deb instrument-update)" Depends)"
fi

# lintian runs as root here (CI); it says so once, which is no finding.
lintian_log=$(mktemp)
trap 'rm -f "$lintian_log"' EXIT
for package in "${packages[@]}"; do
    if ! lintian --fail-on error,warning --tag-display-limit 0 "$(deb "$package")" \
        >"$lintian_log" 2>&1 || grep -Eq '^[EW]: ' "$lintian_log"; then
        cat "$lintian_log" >&2
        fail "lintian finds errors or warnings in $package"
    fi
done

root=$(mktemp -d)
sim_pid=
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$root" "$lintian_log"
}
trap cleanup EXIT
dpkg-deb -x "$(deb instrument-update)" "$root"
console=$root/usr/bin/update-console

# No Qt and no OpenSSL among the libraries the console needs, and it starts
# with the library path emptied.
needed=$(readelf -d "$console" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
if grep -Eiq 'qt|libssl|libcrypto' <<<"$needed"; then
    fail "update-console needs $(tr '\n' ' ' <<<"$needed")"
fi
run() { env LD_LIBRARY_PATH= QT_PLUGIN_PATH= "$@"; }
[[ $(run "$console" --version) == "update-console $version" ]] || fail "--version gives the wrong text"
help=$(run "$console" --help)
for option in --dir --port --ports --report --identify --list-ports --json --quiet --verbose \
    --version 'Exit status' 'Examples'; do
    grep -q -- "$option" <<<"$help" || fail "--help does not name $option"
done

expected=(
    usr/share/instrument-update/Update.Deu
    usr/share/instrument-update/Update.Eng
    usr/share/instrument-update/report.schema.json
    usr/share/doc/instrument-update/copyright
    usr/share/doc/instrument-update/changelog.gz
    usr/share/doc/instrument-update/README.Debian
    usr/share/man/man1/update-console.1.gz
)
for file in "${expected[@]}"; do
    [[ -e $root/$file ]] || fail "$file is missing from instrument-update"
done
if find "$root" -name '*qt*' -o -name 'instrument-update-simulator' | grep -q .; then
    fail "the console package holds parts of another package"
fi

# The packaged simulator, updated by the packaged console.
dpkg-deb -x "$(deb instrument-update-simulator)" "$root"
simulator=$root/usr/bin/instrument-update-simulator
run "$simulator" --help >/dev/null || fail "instrument-update-simulator --help fails"
mkdir -p "$root/work/ports"
cp -r demo "$root/work/program"
# env execs the simulator, so that $! is the simulator itself.
env LD_LIBRARY_PATH= "$simulator" \
    --profile "$root/usr/share/instrument-update-simulator/profiles/demo-meter.profile" \
    --link "$root/work/ports/COM1" --flash-out "$root/work/flash.txt" >"$root/work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 200); do [[ -L $root/work/ports/COM1 ]] && break; sleep 0.05; done
status=0
run "$console" --dir "$root/work/program" --ports "$root/work/ports" --port COM1 --start \
    --time-divisor 10 --report "$root/work/report.json" -q </dev/null >"$root/work/out.txt" 2>&1 ||
    status=$?
kill "$sim_pid" && wait "$sim_pid" 2>/dev/null || true
sim_pid=
[[ $status -eq 0 ]] || fail "the packaged update ended with $status: $(cat "$root/work/out.txt")"
diff -q <(tr -d '\r' <"$root/work/flash.txt") <(tr -d '\r' <demo/DM10_V200.TXT) >/dev/null ||
    fail "the packaged update did not leave demo/DM10_V200.TXT in the simulated instrument"
python3 scripts/validate-report.py "$root/usr/share/instrument-update/report.schema.json" \
    "$root/work/report.json" || fail "the packaged run's report breaks the packaged schema"

if [[ " ${packages[*]} " == *" instrument-update-gui "* ]]; then
    gui_root=$(mktemp -d)
    dpkg-deb -x "$(deb instrument-update-gui)" "$gui_root"
    for file in usr/bin/instrument-update-gui usr/share/applications/instrument-update-gui.desktop \
        usr/share/icons/hicolor/scalable/apps/instrument-update-gui.svg \
        usr/share/man/man1/instrument-update-gui.1.gz; do
        [[ -e $gui_root/$file ]] || { rm -rf "$gui_root"; fail "$file is missing from instrument-update-gui"; }
    done
    gui_version=$("$gui_root/usr/bin/instrument-update-gui" --version)
    rm -rf "$gui_root"
    [[ $gui_version == "instrument-update-gui $version" ]] ||
        fail "instrument-update-gui --version gives $gui_version"
fi
echo "packages ${packages[*]} $version checked"
