#!/usr/bin/env bash
# Builds the engine and its module with AddressSanitizer and UndefinedBehaviorSanitizer into
# build/asan (incremental), runs the engine's C++ tests there, then the whole Python suite against
# the instrumented module. Any sanitizer report, leaks included, fails the run. Arguments go to
# pytest. Expects .venv (scripts/setup.sh makes it).
#   scripts/sanitize.sh --leak-canary  instead builds a copy of the module whose add_magician leaks
#   (build/asan-canary) and checks that this same setup reports the leak: run it after changing
#   the suppressions or the sanitizer options below.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
BUILD="$ROOT/build/asan"
CANARY="$ROOT/build/asan-canary"
cd "$ROOT"

SAN_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
build() {  # source tree, build directory, ON/OFF for the engine's tests, build arguments...
  local source="$1" build="$2" tests="$3"
  shift 3
  cmake -S "$source" -B "$build" -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 -g $SAN_FLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$SAN_FLAGS" -DCMAKE_MODULE_LINKER_FLAGS="$SAN_FLAGS" \
    -DORV_BUILD_MODULE=ON -DORV_BUILD_TESTS="$tests" -DPython_EXECUTABLE="$VENV/bin/python" \
    -Dpybind11_DIR="$("$VENV/bin/python" -m pybind11 --cmakedir)" >/dev/null
  cmake --build "$build" -j 2 "$@"
}

if [ "${1:-}" = --leak-canary ]; then
  rm -rf "$CANARY" && mkdir -p "$CANARY" && cp -r CMakeLists.txt src "$CANARY/"
  sed -i '/^void Environment::add_magician(std::shared_ptr<MagicianAgent> agent) {$/a\    new std::shared_ptr<MagicianAgent>(agent);  // leaks one owner of every agent' \
    "$CANARY/src/model/environment.cpp"
  grep -q "leaks one owner" "$CANARY/src/model/environment.cpp" || { echo "sanitize: add_magician not found" >&2; exit 1; }
  BUILD="$CANARY/build"
  build "$CANARY" "$BUILD" OFF
else
  build "$ROOT" "$BUILD" ON
fi

MODULE="$(find "$BUILD/src/bindings" -maxdepth 1 -name 'orv_engine*.so' | head -n 1)"
MODULE_DIR="$(dirname "$MODULE")"
REPORTS="$BUILD/reports"
rm -rf "$REPORTS" "$BUILD"/expected-failure.* && mkdir -p "$REPORTS"

# Every report is fatal and also written to $REPORTS (pytest captures stderr, and a test's own
# subprocesses report there too). malloc_context_size=4 keeps allocation stacks short, so that
# the interpreter suppressions in tests/safety/lsan.supp can never match an allocation made by
# orv_engine (raise it by hand to read longer stacks when chasing a report).
# intercept_tls_get_addr=0: the runtime's own record of the thread-local blocks that the C library
# makes for loaded modules (orv_engine has one per thread) guesses each block's extent, and a block
# that happens to start 16 bytes past a page boundary is misread: the allocator's chunk header in
# front of it is taken for an old C library's block header, and the leak check at exit scans a
# made-up range (on the main thread from a small address, so its tracer dies with "Tracer caught
# signal 11: addr=0x2e0"; on other threads deep into shadow memory, for minutes). Where a block lands
# follows from every earlier allocation, so one clone failed every time and others never did. The
# leak check loses nothing by it: these blocks are heap chunks that the dynamic linker allocates, and
# the checker counts all of those as reachable and scans them. tests/safety/test_leak_checker.py
# puts a block at such an address and shows both sides.
export ASAN_OPTIONS="halt_on_error=1:exitcode=86:detect_leaks=1:malloc_context_size=4:check_initialization_order=1:strict_string_checks=1:intercept_tls_get_addr=0:log_path=$REPORTS/asan"
export UBSAN_OPTIONS="halt_on_error=1:exitcode=87:print_stacktrace=1:log_path=$REPORTS/ubsan"
export LSAN_OPTIONS="suppressions=$ROOT/tests/safety/lsan.supp:print_suppressions=0:malloc_context_size=4"

fail() {
  echo "sanitize: $1" >&2
  for report in "$REPORTS"/*; do [ -e "$report" ] && { echo "--- $report" >&2; cat "$report" >&2; }; done
  exit 1
}

# The editable install maps orv_engine to the installed module ahead of sys.path; naming its
# build directory in SKBUILD_EDITABLE_SKIP makes it step aside so that PYTHONPATH wins.
# tests/conftest.py checks that the sanitized module is the one imported.
EDITABLE_BUILD="$("$VENV/bin/python" -c 'import sys; print(next((getattr(f, "path", None) or "" for f in sys.meta_path if type(f).__name__ == "ScikitBuildRedirectingFinder"), ""))')"
# libstdc++ is preloaded with the runtime so that its exception interceptors find the real
# __cxa_throw (the interpreter itself does not link libstdc++).
PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libstdc++.so)"
run_python() {
  LD_PRELOAD="$PRELOAD" PYTHONMALLOC=malloc PYTHONPATH="$MODULE_DIR${PYTHONPATH:+:$PYTHONPATH}" \
    SKBUILD_EDITABLE_SKIP="$EDITABLE_BUILD" ORV_EXPECT_MODULE_DIR="$MODULE_DIR" ORV_SANITIZED=1 "$VENV/bin/python" "$@"
}

if [ "${1:-}" = --leak-canary ]; then
  status=0
  run_python -c 'import orv_engine; orv_engine.Environment("z").add_plus_magician("p")' || status=$?
  if [ "$status" -eq 86 ] && grep -qs "orv::Environment::add_magician" "$REPORTS"/asan.*; then
    grep -h "leak of" "$REPORTS"/asan.*
    echo "== the leak in add_magician was reported: the setup catches engine leaks"
    exit 0
  fi
  fail "the leak in add_magician was not reported (exit status $status)"
fi

# Engine tests that the sanitizers show failing until the engine is fixed, run apart and
# expected to fail (a test that passes here again must leave this list).
EXPECTED_FAILURES=""


echo "== engine tests (C++, sanitized)"
exclude="^($(echo $EXPECTED_FAILURES | tr ' ' '|'))\$"
# The sanitized JSON writer takes about 3.5 KiB of stack per level, so on the usual 8 MiB stack
# the depth guard refuses the 2,000-zone chain that an engine test writes; a larger stack limit
# lets the main thread hold it, as an optimised build does on 8 MiB.
(ulimit -s 65536 && ctest --test-dir "$BUILD" --output-on-failure -j 2 ${EXPECTED_FAILURES:+-E "$exclude"}) ||
  fail "engine tests failed"
for name in $EXPECTED_FAILURES; do
  if ASAN_OPTIONS="$ASAN_OPTIONS:log_path=$BUILD/expected-failure" ctest --test-dir "$BUILD" -R "^$name\$" >/dev/null 2>&1; then
    fail "engine test $name passes under the sanitizers now: take it off EXPECTED_FAILURES in scripts/sanitize.sh"
  fi
  echo "expected failure: $name"
done

echo "== module and toolkit tests (Python, sanitized module $MODULE)"
status=0
run_python -m pytest -q "$@" || status=$?
[ -z "$(ls -A "$REPORTS")" ] || fail "sanitizer reports (pytest exit status $status)"
[ "$status" -eq 0 ] || fail "pytest failed with exit status $status"
echo "== sanitized run clean"
