#!/usr/bin/env bash
# A throwaway MariaDB server owned by the project: start | stop | status.
# Defaults serve the tests (build/testdb, port 33306); run.sh points it at the demo database with
# QUARVEL_DB_DIR and QUARVEL_DB_PORT.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=${QUARVEL_DB_DIR:-$root/build/testdb}
port=${QUARVEL_DB_PORT:-33306}
db_name=${QUARVEL_DB_NAME:-velmora}
db_user=${QUARVEL_DB_USER:-quarvel}
db_password=${QUARVEL_DB_PASSWORD:-quarvel-test}

data=$dir/data
sock=$dir/mysqld.sock
pidfile=$dir/mysqld.pid
log=$dir/mysqld.log

as_root=()
if [ "$(id -u)" -eq 0 ]; then
  as_root=(--user=root)
fi

# The administrator account is the OS user's, reachable through the socket only (unix_socket
# authentication): nothing on the TCP port gets in without the test user's password.
admin=$(id -un)
client() { mariadb --no-defaults --socket="$sock" -u"$admin" "$@"; }
admin_cmd() { mariadb-admin --no-defaults --socket="$sock" -u"$admin" "$@"; }
alive() { admin_cmd --connect-timeout=2 ping >/dev/null 2>&1; }

# A certificate authority of the server's own and a certificate for 127.0.0.1 signed by it, so
# that the server offers TLS and clients can be tested with and without verifying it.
tls=$dir/tls
make_certificates() {
  [ -f "$tls/server-cert.pem" ] && return 0
  mkdir -p "$tls"
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Quarvel test CA" \
    -keyout "$tls/ca-key.pem" -out "$tls/ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
    -keyout "$tls/server-key.pem" -out "$tls/server.csr" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >"$tls/san.ext"
  openssl x509 -req -days 3650 -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca-key.pem" \
    -CAcreateserial -extfile "$tls/san.ext" -out "$tls/server-cert.pem" 2>/dev/null
  chmod 644 "$tls"/*.pem
}

start() {
  mkdir -p "$dir"
  if alive; then
    echo "testdb: already running on 127.0.0.1:$port ($dir)"
    return 0
  fi
  make_certificates
  if [ ! -d "$data/mysql" ]; then
    rm -rf "$data"
    mariadb-install-db --no-defaults --datadir="$data" "${as_root[@]}" \
      --skip-test-db >"$dir/install.log" 2>&1 || {
      cat "$dir/install.log" >&2
      exit 1
    }
  fi
  mariadbd --no-defaults --datadir="$data" --socket="$sock" --pid-file="$pidfile" \
    --port="$port" --bind-address=127.0.0.1 "${as_root[@]}" \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
    --skip-log-bin --innodb-buffer-pool-size=256M --max-allowed-packet=32M \
    --ssl-ca="$tls/ca.pem" --ssl-cert="$tls/server-cert.pem" --ssl-key="$tls/server-key.pem" \
    --log-error="$log" >/dev/null 2>&1 &
  for _ in $(seq 1 300); do
    alive && break
    sleep 0.1
  done
  if ! alive; then
    echo "testdb: the server did not come up; its log:" >&2
    tail -n 30 "$log" >&2 || true
    exit 1
  fi
  client <<SQL
CREATE DATABASE IF NOT EXISTS \`$db_name\` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;
CREATE USER IF NOT EXISTS '$db_user'@'127.0.0.1' IDENTIFIED BY '$db_password';
CREATE USER IF NOT EXISTS '$db_user'@'localhost' IDENTIFIED BY '$db_password';
GRANT ALL PRIVILEGES ON \`$db_name\`.* TO '$db_user'@'127.0.0.1';
GRANT ALL PRIVILEGES ON \`$db_name\`.* TO '$db_user'@'localhost';
FLUSH PRIVILEGES;
SQL
  echo "testdb: running on 127.0.0.1:$port, database $db_name, user $db_user ($dir)"
  echo "testdb: TLS with the certificate authority $tls/ca.pem"
}

stop() {
  if [ ! -f "$pidfile" ]; then
    echo "testdb: not running ($dir)"
    return 0
  fi
  local pid
  pid=$(cat "$pidfile")
  admin_cmd shutdown >/dev/null 2>&1 || kill "$pid" 2>/dev/null || true
  for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
  echo "testdb: stopped ($dir)"
}

status() {
  if alive; then
    echo "testdb: running on 127.0.0.1:$port ($dir)"
  else
    echo "testdb: not running ($dir)"
    return 1
  fi
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  status) status ;;
  *)
    echo "usage: $0 start|stop|status" >&2
    exit 2
    ;;
esac
