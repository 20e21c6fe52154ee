#!/usr/bin/env bash
# xvfb.sh start|stop DIR: a private Xvfb display for the GUI tests. The display
# name is left in DIR/display, the server's process id in DIR/pid.
set -euo pipefail
action=${1:?usage: xvfb.sh start|stop DIR}
dir=${2:?usage: xvfb.sh start|stop DIR}
mkdir -p "$dir"
case $action in
  start)
    if [ -f "$dir/pid" ] && kill -0 "$(cat "$dir/pid")" 2>/dev/null; then exit 0; fi
    for n in $(seq 90 140); do
      [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
      Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
      pid=$!
      for _ in $(seq 1 100); do
        [ -e /tmp/.X11-unix/X$n ] && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
      done
      if [ -e /tmp/.X11-unix/X$n ]; then
        echo $pid > "$dir/pid"; echo ":$n" > "$dir/display"; exit 0
      fi
      kill $pid 2>/dev/null || true
    done
    echo "no Xvfb display could be started" >&2; exit 1 ;;
  stop)
    if [ -f "$dir/pid" ]; then kill "$(cat "$dir/pid")" 2>/dev/null || true; rm -f "$dir/pid"; fi ;;
esac
