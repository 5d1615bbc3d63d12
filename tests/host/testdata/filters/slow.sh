#!/bin/sh
echo $$ >"$PIDFILE"
exec sleep 60
