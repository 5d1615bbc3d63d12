#!/bin/sh
# Waits for $GOFILE, then signals itself: it survives only if SIGHUP is ignored.
echo $$ >"$PIDFILE"
i=0; while [ ! -e "$GOFILE" ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done
kill -HUP $$
echo ok
