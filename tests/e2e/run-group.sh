#!/bin/bash
# Runs one group of the end-to-end tests. Wine writes the debug channels of
# the client processes that the tests start to the Unix stderr they inherit,
# not to their Windows handles, so stderr goes to a trace file the tests read.
#   run-group.sh TRACE_FILE COMMAND...
trace=$1
shift
: >"$trace"
exec "$@" 2>>"$trace"
