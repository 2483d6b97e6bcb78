#!/usr/bin/env bash
# check-vocabulary.sh [ROOT]: fails when the program's code writes out a
# number of the protocol vocabulary instead of taking its name from
# programmers/Protocol.h: a device command ("A.1000"), an internal event id
# (10000..10059) or an exit code assigned as a bare number.
#
# Comments are not checked, so that they can cite a number next to its name.
# A "//" or "/*" inside a string literal is taken for a comment too; that can
# only hide a hit, never invent one.
set -euo pipefail
cd "${1:-"$(dirname "$0")/.."}"

# tools/instrument-sim/ is left out on purpose: the simulated instrument
# shares no protocol code with the tool. tests/, bench/ and fuzz/ are left
# out as well: they speak the protocol from the instrument's side or check
# the numbers themselves.
folders=(app programmers serial kernel platform i18n frontends)

patterns=(
    '"A\.[0-9]'                # a device command
    '\b100[0-5][0-9]\b'        # an internal event id
    '\bExitCode\s*=\s*-?[0-9]' # an exit code as a bare number
)

# Allowed hits, as "file:extended regex of the code on the line".
allowed=(
    # The vocabulary itself.
    'programmers/Protocol.h:.*'
    # The settings dialog's bound of notifications, not an event id.
    'serial/V24Dialog.h:NotificationMax = 10000;'
    # A read time-out in milliseconds, not an event id.
    'platform/TermiosDevice.cpp:UnlimitedReadMs = 10000;'
)

# Every line of code as "file:line:code", with its comments cut out.
code_lines() {
    find "${folders[@]}" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) \
        -print0 | sort -z | xargs -0 awk '
        FNR == 1 { inBlock = 0 }
        {
            rest = $0; code = ""
            while (rest != "") {
                if (inBlock) {
                    end = index(rest, "*/")
                    if (end == 0) { rest = ""; break }
                    rest = substr(rest, end + 2); inBlock = 0; continue
                }
                line = index(rest, "//"); block = index(rest, "/*")
                if (line > 0 && (block == 0 || line < block)) {
                    code = code substr(rest, 1, line - 1); rest = ""; break
                }
                if (block > 0) {
                    code = code substr(rest, 1, block - 1); rest = substr(rest, block + 2)
                    inBlock = 1; continue
                }
                code = code rest; rest = ""
            }
            print FILENAME ":" FNR ":" code
        }'
}

is_allowed() {
    local file=$1 code=$2 entry
    for entry in "${allowed[@]}"; do
        if [[ $file == "${entry%%:*}" ]] && grep -Eq -- "${entry#*:}" <<<"$code"; then
            return 0
        fi
    done
    return 1
}

grep_args=()
for pattern in "${patterns[@]}"; do
    grep_args+=(-e "$pattern")
done

failures=0
while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    code=${rest#*:}
    if ! is_allowed "$file" "$code"; then
        echo "$hit" >&2
        failures=$((failures + 1))
    fi
done < <(code_lines | grep -E "${grep_args[@]}" || true)

if ((failures > 0)); then
    echo "check-vocabulary: $failures line(s) above write out a device command, an event id" \
        "or an exit code; take its name from programmers/Protocol.h" >&2
    exit 1
fi
echo "check-vocabulary: the protocol vocabulary is used by name"
