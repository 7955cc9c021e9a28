#!/bin/sh
# A host of libTarnlex.so: unloads the library after release and lives on; then returns from main
# with the station open, RUNS times (default 20; four hosts at a time). Any run that ends by a
# signal or with another status fails.
#   station-host.sh path/to/station_host [RUNS]
set -u
host=$1
runs=${2:-20}
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# run MODE NAME: the host's exit status goes to $logs/NAME.status, its output to $logs/NAME.log.
run() {
  "$host" "$1" >"$logs/$2.log" 2>&1
  echo $? >"$logs/$2.status"
}

run unload unload
i=1
while [ "$i" -le "$runs" ]; do
  run exit "exit-$i" &
  [ $((i % 4)) -eq 0 ] && wait
  i=$((i + 1))
done
wait

failed=0
for status in "$logs"/*.status; do
  name=$(basename "$status" .status)
  if [ "$(cat "$status")" != 0 ]; then
    echo "station_host ${name%%-*}, run $name: exit status $(cat "$status")" >&2
    grep -av '^\[INFO\]' "$logs/$name.log" >&2
    failed=1
  fi
done
[ "$(ls "$logs"/*.status | wc -l)" -eq $((runs + 1)) ] || { echo "some runs did not end" >&2; failed=1; }
[ "$failed" -eq 0 ] && echo ok
exit "$failed"
