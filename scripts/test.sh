#!/usr/bin/env bash
# What CI runs: install what is missing, build with AddressSanitizer and UBSan, start the
# throwaway database, run every test, stop the database whatever happened.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset asan
cmake --build --preset asan -j "$(nproc)"

scripts/testdb.sh start
trap 'scripts/testdb.sh stop' EXIT

status=0
(cd build/asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600) || status=$?
exit $status
