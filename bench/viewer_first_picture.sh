#!/usr/bin/env bash
# Starts the viewer on a study and ends it as soon as the detail view has built its first
# picture: timed as a whole process, this is the time from start to the first picture. Run it
# with a display (under xvfb-run for a server), e.g.
#   xvfb-run -a -s "-screen 0 1600x1000x24" bench/viewer_first_picture.sh build/bin/tarvicon STUDY
# and compare with `tarvicon-cli tree STUDY` on the same files.
set -euo pipefail
viewer=$1
shift
trace=$(mktemp /tmp/tarvicon-first-picture.XXXXXX)
trap 'rm -f "$trace"' EXIT
TARVICON_TRACE=$trace XDG_CONFIG_HOME=$(dirname "$trace") "$viewer" "$@" &
pid=$!
# The first picture of the series shown after the load: a build with pixels after "Loaded".
until awk '/^Loaded/ { loaded = 1 } loaded && /^Built [1-9]/ { found = 1 } END { exit !found }' "$trace"; do
  kill -0 "$pid" 2>/dev/null || { echo "viewer ended before its first picture" >&2; exit 1; }
  sleep 0.01
done
kill "$pid"
wait "$pid" || true
