#!/usr/bin/env bash
# What CI runs: install what is missing, build with AddressSanitizer and UBSan, start the
# throwaway database, run every test, stop the database whatever happened.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset asan
cmake --build --preset asan -j "$(nproc)"

# QUARVEL_DB_PORT moves the test server (and the tests with it) off the default port.
export QUARVEL_TEST_DB_PORT=${QUARVEL_DB_PORT:-33306}
export QUARVEL_TEST_DB_CA=${QUARVEL_DB_DIR:-$PWD/build/testdb}/tls/ca.pem
scripts/testdb.sh start
trap 'scripts/testdb.sh stop' EXIT

status=0
(cd build/asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600) || status=$?
exit $status
