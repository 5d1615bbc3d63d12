#!/bin/sh
# A filter that could not write its whole log (a full $TMPDIR).
printf 'B\r\nN\r\n\r\nSubject - x\r\n'
printf '\r\nSub' >zentry.log
