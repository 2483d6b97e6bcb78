#!/bin/sh
# Stands in for an external programming tool (copied under the tool's name).
# Appends its arguments, one per line and then "--", to $FAKE_TOOL_LOG, with
# whether the port was free when it started. Exits with the first line of
# $FAKE_TOOL_CODES (the line is used up; 0 when the file is empty). On 0 it
# "programs" the instrument: at 38400 8N1 on $FAKE_TOOL_PORTS/COMn it sends
# the leave bytes 5A A5 that make the simulated loader start the firmware.
# $FAKE_TOOL_SLEEP: seconds to run first (its pid is then in $FAKE_TOOL_LOG.pid).
log=${FAKE_TOOL_LOG:-/dev/null}
port=
for arg in "$@"; do
    printf '%s\n' "$arg" >>"$log"
    case $arg in
    -com*) port=${arg#-com} ;;
    -c?) port=${arg#-c} ;;
    esac
done
device=${FAKE_TOOL_PORTS:-/nonexistent}/COM$port
if [ -e "$device" ]; then
    if flock -n "$device" true; then echo "port COM$port free" >>"$log"; else echo "port COM$port held" >>"$log"; fi
fi
echo "--" >>"$log"
if [ -n "$FAKE_TOOL_SLEEP" ]; then
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
if [ "$code" = 0 ] && [ -e "$device" ] && [ -z "$FAKE_TOOL_IDLE" ]; then
    stty -F "$device" 38400 -cstopb raw && printf '\132\245' >"$device"
fi
exit "$code"
