#!/usr/bin/env bash
# The main job: builds the tool and runs it on the sample program folder demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DUPDATE_QT=OFF -DUPDATE_TESTS=OFF -DUPDATE_BENCH=OFF

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r demo/. "$work/"
echo "== update-console --dir $work"
build/frontends/console/update-console --dir "$work" </dev/null
echo "== exit code $?"
