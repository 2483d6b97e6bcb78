#!/bin/sh
# Stands in for an external programming tool (copied under the tool's name).
# Appends its arguments, one per line, then the port's state and "--", to
# $FAKE_TOOL_LOG. The port is $FAKE_TOOL_PORTS/COMn for the -comN or -cN it
# was given: one that does not exist ("port COMn missing") or that another
# program holds ("port COMn held") fails the run with exit code 2, as a real
# tool that cannot open its port does. Otherwise ("port COMn free") it exits
# with the first line of $FAKE_TOOL_CODES (the line is used up; 0 when the
# file is empty). On 0 it "programs" the instrument: it holds the port, sets
# 38400 8N1 and sends the file it was given as the simulator's stand-in
# loader takes it ("FILE name size", a line end, the bytes), then the leave
# bytes 5A A5 that start the firmware. A file it cannot read fails with 2.
# $FAKE_TOOL_SLEEP: seconds to run first (its pid is then in $FAKE_TOOL_LOG.pid).
# $FAKE_TOOL_STUCK: meanwhile it holds its port open and sleeps on through the
# hang-up, as a tool stuck on a line whose device went away.
log=${FAKE_TOOL_LOG:-/dev/null}
port=
file=
for arg in "$@"; do
    printf '%s\n' "$arg" >>"$log"
    case $arg in
    -com*) port=${arg#-com} ;;
    -c?) port=${arg#-c} ;;
    -f*) file=${arg#-f} ;;
    -*) ;;
    *) [ -z "$file" ] && file=$arg ;;
    esac
done
device=${FAKE_TOOL_PORTS:-/nonexistent}/COM$port
if [ ! -e "$device" ]; then
    printf 'port COM%s missing\n--\n' "$port" >>"$log"
    exit 2
fi
if ! flock -n "$device" true; then
    printf 'port COM%s held\n--\n' "$port" >>"$log"
    exit 2
fi
printf 'port COM%s free\n--\n' "$port" >>"$log"
if [ -n "$FAKE_TOOL_SLEEP" ]; then
    if [ -n "$FAKE_TOOL_STUCK" ]; then
        exec 3<>"$device"
    fi
    sleep "$FAKE_TOOL_SLEEP" &
    echo $! >"$log.pid"
    wait
fi
# $FAKE_TOOL_SIGNAL: the tool dies of that signal. $FAKE_TOOL_IDLE: it
# reports success without programming anything.
if [ -n "$FAKE_TOOL_SIGNAL" ]; then
    kill -s "$FAKE_TOOL_SIGNAL" $$
fi
code=0
if [ -n "$FAKE_TOOL_CODES" ] && [ -s "$FAKE_TOOL_CODES" ]; then
    code=$(head -n 1 "$FAKE_TOOL_CODES")
    sed -i 1d "$FAKE_TOOL_CODES"
fi
if [ "$code" = 0 ] && [ -z "$FAKE_TOOL_IDLE" ]; then
    [ -r "$file" ] || exit 2
    size=$(wc -c <"$file")
    # The port is held while the file goes out; a port taken meanwhile fails.
    FAKE_FILE=$file FAKE_SIZE=$size flock -n "$device" sh -c '
        stty -F "$0" 38400 -cstopb raw || exit 2
        { printf "FILE %s %s\n" "${FAKE_FILE##*/}" "$FAKE_SIZE"; cat "$FAKE_FILE"; printf "\132\245"; } >"$0"
    ' "$device" || exit 2
fi
# $FAKE_TOOL_LINGER: seconds a child of the tool goes on holding the port
# after the tool has ended (the pid of its sleep is in $FAKE_TOOL_LOG.held).
if [ -n "$FAKE_TOOL_LINGER" ]; then
    flock -n "$device" sh -c 'echo $$ >"$0.held"; exec sleep "$1"' "$log" "$FAKE_TOOL_LINGER" \
        </dev/null >/dev/null 2>&1 &
    tries=0
    while [ ! -e "$log.held" ] && [ $tries -lt 100 ]; do
        sleep 0.05
        tries=$((tries + 1))
    done
fi
exit "$code"
