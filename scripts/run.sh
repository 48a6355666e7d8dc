#!/usr/bin/env bash
# The newcomer's command: install, build, start a demo database with sample data, and run Quarvel
# against it. Without a display it runs under Xvfb, saves a screenshot to build/screenshot.png
# and closes the window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/bootstrap.sh
cmake --preset release
cmake --build --preset release -j "$(nproc)" --target Quarvel quarvel-config

export QUARVEL_DB_DIR=$root/build/demodb
export QUARVEL_DB_PORT=${QUARVEL_DEMO_PORT:-33307}
export QUARVEL_DB_USER=quarvel
export QUARVEL_DB_PASSWORD=quarvel-demo
scripts/testdb.sh start
trap 'scripts/testdb.sh stop' EXIT
mariadb --no-defaults --socket="$QUARVEL_DB_DIR/mysqld.sock" -u"$(id -un)" velmora <scripts/demo.sql

bin=$root/build/release/bin
printf '%s\n' "$QUARVEL_DB_PASSWORD" |
  "$bin/quarvel-config" "$bin" --database velmora --server 127.0.0.1 --port "$QUARVEL_DB_PORT" \
    --user "$QUARVEL_DB_USER" --password-stdin
"$bin/quarvel-config" "$bin" --check

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$bin/Quarvel"
  exit 0
fi

# No display: show the window on a virtual one, take its picture, close it.
shot=$root/build/screenshot.png
xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" bash -c '
  set -euo pipefail
  "$1" &
  app=$!
  wid=""
  for _ in $(seq 1 100); do
    wid=$(xdotool search --pid "$app" --onlyvisible 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && break
    sleep 0.2
  done
  if [ -z "$wid" ]; then
    echo "run: the window did not appear" >&2
    kill "$app" 2>/dev/null || true
    exit 1
  fi
  sleep 1.5
  import -window "$wid" "$2"
  kill "$app"
  wait "$app" 2>/dev/null || true
' run "$bin/Quarvel" "$shot"
echo "run: no display here; the window was shown under Xvfb and its screenshot is $shot"
