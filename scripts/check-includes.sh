#!/usr/bin/env bash
# Include directions: every folder includes project headers only from the folders
# it may depend on (the table below; one CMake target per folder, and these arrows
# are the only ones allowed). Project headers are included by folder
# ("platform/Application.h"), so the include lines show each arrow; relative
# includes ("../x/y.h") are resolved first. Qt headers belong to the Qt front-end
# (and its tests) alone. A folder without a row is an error, so that a new folder
# gets its arrows decided.
#
#   scripts/check-includes.sh [SOURCE_DIR]
#
# Prints one line per violation and exits 1 when there is any; 0 otherwise.
set -euo pipefail
root=${1:-"$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"}
cd "$root"

# Folder, then the folders it may include besides itself ("*": any).
rules='
kernel               platform
platform
serial               platform
i18n                 platform
programmers          kernel serial platform
app                  kernel platform serial i18n programmers
frontends/qt         app platform serial
frontends/console    app platform serial
tools/instrument-sim
tests                *
bench                *
fuzz                 *
'
# Where Qt headers may be included.
qt_folders='frontends/qt tests bench'

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    files=$(git ls-files -co --exclude-standard -- '*.h' '*.hpp' '*.cpp' '*.cc')
else
    files=$(find . -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) \
        -not -path './build*' -not -path './.git/*' | sed 's|^\./||')
fi
[ -n "$files" ] || { echo "check-includes: no sources under $root" >&2; exit 1; }

# file:line:text of every include line, for awk to judge.
# (grep answers 1 for a batch without includes: that is no error.)
echo "$files" | grep -v -E '^build' | tr '\n' '\0' |
    { xargs -0 grep -n -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' || true; } |
    awk -v rules="$rules" -v qt="$qt_folders" '
    BEGIN {
        n = split(rules, lines, "\n")
        for (i = 1; i <= n; i++) {
            if (split(lines[i], f, " ") == 0) continue
            folders[++count] = f[1]
            allow[f[1]] = " " f[1] " "
            for (j = 2; j in f; j++) allow[f[1]] = allow[f[1]] f[j] " "
        }
        split(qt, q, " ")
        for (i in q) qtok[q[i]] = 1
    }
    # The folder of the table a path lies in (the longest that matches), or "".
    function folder_of(path,    i, best) {
        best = ""
        for (i = 1; i <= count; i++)
            if (index(path, folders[i] "/") == 1 && length(folders[i]) > length(best))
                best = folders[i]
        return best
    }
    # dir/rel with "." and ".." resolved; "" when it leaves the tree.
    function resolve(dir, rel,    parts, out, k, m, i, path) {
        path = (dir == "" ? rel : dir "/" rel)
        m = split(path, parts, "/")
        k = 0
        for (i = 1; i <= m; i++) {
            if (parts[i] == "" || parts[i] == ".") continue
            if (parts[i] == "..") { if (k == 0) return ""; k--; continue }
            out[++k] = parts[i]
        }
        path = ""
        for (i = 1; i <= k; i++) path = path (i > 1 ? "/" : "") out[i]
        return path
    }
    {
        file = $0; sub(/:.*/, "", file)
        rest = substr($0, length(file) + 2)
        lineno = rest; sub(/:.*/, "", lineno)
        text = substr(rest, length(lineno) + 2)
        from = folder_of(file)
        if (from == "") {
            printf "%s:%s: folder has no row in the include table\n", file, lineno
            bad = 1
            next
        }
        match(text, /[<"][^>"]+[>"]/)
        if (RSTART == 0) next
        target = substr(text, RSTART + 1, RLENGTH - 2)
        quoted = substr(text, RSTART, 1) == "\""
        if (!quoted) {
            top = target; sub(/\/.*/, "", top)
            if (top ~ /^Q/ && !(from in qtok)) {
                printf "%s:%s: %s includes the Qt header <%s>\n", file, lineno, from, target
                bad = 1
            }
            if (folder_of(target) == "") next
        } else if (folder_of(target) == "") {
            dir = file; if (!sub(/\/[^\/]*$/, "", dir)) dir = ""
            target = resolve(dir, target)
        }
        to = folder_of(target)
        if (to == "" || allow[from] ~ / \* / || index(allow[from], " " to " ") > 0) next
        printf "%s:%s: %s may not include %s (%s)\n", file, lineno, from, to, target
        bad = 1
    }
    END { exit bad ? 1 : 0 }
    ' && status=0 || status=$?

if [ "$status" -ne 0 ]; then
    echo "check-includes: include directions broken (allowed: the table at the top of $0)" >&2
    exit 1
fi
echo "check-includes: include directions hold"
