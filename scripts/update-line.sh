#!/usr/bin/env bash
# update-line.sh: updates the instruments of a production line at once, one
# update-console per port, and prints one line per port.
#
#   scripts/update-line.sh --dir PROGRAM_FOLDER [--reports DIR] [--jobs N]
#                          [--console PATH] [-- UPDATE_CONSOLE_OPTIONS...] PORT...
#
# PORT is a COM name or a device path (/dev/ttyUSB0, /dev/serial/by-id/...);
# options after -- are written --opt=value (the first word without a dash is a PORT).
# Each port's report is DIR/NAME.json (NAME: the port's last path part; default
# DIR: reports). Every port runs even when others fail. Exit status: 0 when
# every instrument was updated or already up to date, else 1 (the per-port
# exit codes are in the table and in the reports); 64 for a bad option.
set -euo pipefail

usage() {
    if [[ ${1:-64} == 0 ]]; then
        sed -n '2,14s/^# \{0,1\}//p' "$0"
    else
        sed -n '2,14s/^# \{0,1\}//p' "$0" >&2
    fi
    exit "${1:-64}"
}

folder= reports=reports jobs=8 console=update-console
extra=()
while (($#)); do
    case $1 in
    --dir) folder=${2:?}; shift 2 ;;
    --reports) reports=${2:?}; shift 2 ;;
    --jobs) jobs=${2:?}; shift 2 ;;
    --console) console=${2:?}; shift 2 ;;
    --) shift; while (($#)) && [[ $1 == -* ]]; do extra+=("$1"); shift; done ;;
    -h | --help) usage 0 ;;
    -*) echo "update-line: unknown option $1" >&2; usage ;;
    *) break ;;
    esac
done
(($#)) && [[ -n $folder ]] || usage
[[ $jobs =~ ^[1-9][0-9]*$ ]] || { echo "update-line: --jobs needs a number" >&2; exit 64; }
mkdir -p "$reports"

# One line per port: PORT EXIT OUTCOME. The program folder is shared: the
# console only reads it (a language change is the one write, and nobody types).
update_one() {
    local port=$1 name report status=0
    name=$(basename "$port")
    report=$reports/$name.json
    "$console" --dir "$folder" --port "$port" --start --report "$report" "${extra[@]}" \
        </dev/null >"$reports/$name.log" 2>&1 || status=$?
    local outcome=unknown
    if [[ -s $report ]]; then
        outcome=$(sed -n 's/^  "outcome": "\(.*\)",$/\1/p' "$report")
    fi
    printf '%-40s %4d  %s\n' "$port" "$status" "$outcome"
}
export -f update_one
export folder reports console
extra_text=$(printf '%q ' "${extra[@]}")
export extra_text

printf '%-40s %4s  %s\n' PORT EXIT OUTCOME
results=$(printf '%s\0' "$@" |
    xargs -0 -P "$jobs" -I{} bash -c 'eval "extra=($extra_text)"; update_one "$1"' _ {})
echo "$results"
# Updated and up-to-date count as done.
if awk '$2 != 0 && $2 != 4 { bad = 1 } END { exit bad }' <<<"$results"; then
    exit 0
fi
exit 1
