#!/usr/bin/env bash
# The main job: builds the tool and the simulated instrument, lays out a
# program folder from demo/, puts the simulated meter on a pseudo-terminal as
# COM1 and updates its firmware with the console front-end. Ends by comparing
# the instrument's flash with the firmware file.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build-demo -DUPDATE_QT=OFF -DUPDATE_TESTS=OFF -DUPDATE_BENCH=OFF

work=$(mktemp -d)
sim_pid=
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/ports"
cp -r demo "$work/program"
sed -i 's/^AutoStart=NO/AutoStart=YES/' "$work/program/Update.ini"

build-demo/tools/instrument-sim/instrument-sim --profile tools/instrument-sim/profiles/demo-meter.profile \
    --link "$work/ports/COM1" --flash-out "$work/flash.txt" \
    --transcript "$work/transcript.log" --time-divisor 10 >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [[ -L $work/ports/COM1 ]] && break; sleep 0.05; done

echo "== update-console --dir <demo copy> --ports <simulated COM1> --time-divisor 10"
status=0
build-demo/frontends/console/update-console --dir "$work/program" --ports "$work/ports" \
    --time-divisor 10 </dev/null || status=$?
echo "== exit code $status"

kill "$sim_pid" && wait "$sim_pid" 2>/dev/null || true
sim_pid=
if [[ $status -eq 0 ]] && diff -q <(tr -d '\r' <"$work/flash.txt") <(tr -d '\r' <demo/DM10_V200.TXT) >/dev/null; then
    echo "== the instrument's flash holds exactly demo/DM10_V200.TXT"
else
    echo "== the update did not leave demo/DM10_V200.TXT in the instrument" >&2
    exit 1
fi
