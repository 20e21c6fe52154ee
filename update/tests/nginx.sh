# Shell functions that run nginx on 127.0.0.1 for tests and benchmarks;
# sourced by update_server.sh and bench/run.sh. Everything nginx writes stays
# in the state folder given; every wait is bounded.
#
# The access log STATE/access.log has one line per request: "METHOD URI STATUS".

# nginx_start STATE PORT ROOT [DIRECTIVES]: serves ROOT; /nolength/ answers
# without Content-Length (SSI processing drops it), /marker with 204.
# DIRECTIVES go into the server block as they are.
nginx_start() {
  local state port=$2 root extra=${4:-}
  mkdir -p "$1/tmp"
  state=$(cd "$1" && pwd) root=$(cd "$3" && pwd)
  cat > "$state/nginx.conf" <<CONF
worker_processes 1;
pid $state/nginx.pid;
error_log $state/error.log;
events { worker_connections 64; }
http {
  log_format lumora '\$request_method \$request_uri \$status';
  access_log $state/access.log lumora;
  client_body_temp_path $state/tmp; proxy_temp_path $state/tmp; fastcgi_temp_path $state/tmp;
  uwsgi_temp_path $state/tmp; scgi_temp_path $state/tmp;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    root $root;
    location /nolength/ { ssi on; ssi_types *; }
    location = /marker { return 204; }
    $extra
  }
}
CONF
  nginx -p "$state" -c "$state/nginx.conf"
  local attempt
  for attempt in $(seq 100); do
    if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "nginx did not start on port $port" >&2
  cat "$state/error.log" >&2
  nginx_stop "$state"
  return 1
}

# nginx_stop STATE: stops the nginx started with STATE, if it runs.
nginx_stop() {
  local state=$1
  [ -f "$state/nginx.pid" ] || return 0
  local pid attempt
  pid=$(cat "$state/nginx.pid")
  kill "$pid" 2>/dev/null || true
  for attempt in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  rm -f "$state/nginx.pid"
}
