#!/bin/bash
# Builds the libFuzzer targets of the portable core with clang and runs each
# for QUENZIL_FUZZ_SECONDS (default 60) on a copy of fuzz/corpus kept in
# build/fuzz, so the tree stays clean. Exits non-zero if any target finds a
# crash, a leak, a time-out or runs out of memory, and prints the input.
#
#   scripts/fuzz.sh                    all targets
#   scripts/fuzz.sh fuzz_answer        some of them
#   QUENZIL_FUZZ_SECONDS=600 scripts/fuzz.sh
#   QUENZIL_FUZZ_SEED=1 scripts/fuzz.sh   the same inputs on every run
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${QUENZIL_FUZZ_SECONDS:-60}
build=${QUENZIL_FUZZ_BUILD_DIR:-$root/build/fuzz}
jobs=${QUENZIL_FUZZ_JOBS:-$(nproc)}

# Only what this build needs; scripts/deps.sh has the full list.
packages=(cmake make clang libclang-rt-14-dev libboost1.81-dev nlohmann-json3-dev libssl-dev python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQUENZIL_FUZZ=ON -DQUENZIL_BUILD_TESTS=OFF
cmake --build "$build" --target quenzil_fuzzers -j"$jobs"

targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(fuzz_decode fuzz_answer fuzz_query_url fuzz_keyed_answer fuzz_stored_files)

max_len_of() {
  case "$1" in
    fuzz_query_url) echo 1024 ;;
    *) echo 65536 ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
symbolizer=$(command -v llvm-symbolizer || true)
[ -z "$symbolizer" ] || export ASAN_SYMBOLIZER_PATH=$symbolizer

status=0
summary=()
for target in "${targets[@]}"; do
  binary="$build/fuzz/$target"
  [ -x "$binary" ] || { echo "no such fuzz target: $target" >&2; exit 2; }
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  # Seeds join what earlier runs found; the repository copy is never written.
  cp -n "$root/fuzz/corpus/$target"/* "$corpus"/ 2>/dev/null || true
  before=$(find "$artifacts" -type f | sort)

  seed=()
  [ -z "${QUENZIL_FUZZ_SEED:-}" ] || seed=(-seed="$QUENZIL_FUZZ_SEED")
  dict=()
  [ ! -f "$root/fuzz/$target.dict" ] || dict=(-dict="$root/fuzz/$target.dict")

  echo "== $target: ${seconds}s, corpus $(find "$corpus" -type f | wc -l) files"
  result=0
  # The outer time-out only guards against a hang outside libFuzzer's own
  # clock (a stuck input is caught by -timeout first).
  timeout --kill-after=30 $((seconds + 120)) "$binary" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -max_len="$(max_len_of "$target")" \
    -timeout=30 -print_final_stats=1 -artifact_prefix="$artifacts/" "${seed[@]}" "${dict[@]}" \
    "$corpus" >"$log" 2>&1 || result=$?

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  size=$(find "$corpus" -type f | wc -l)
  summary+=("$target: ${execs:-?} runs, ${rate:-?} exec/s, corpus $size files, exit $result")
  if [ "$result" -ne 0 ]; then
    status=1
    tail -n 60 "$log"
    echo "!! $target failed (exit $result); log: $log"
    comm -13 <(echo "$before") <(find "$artifacts" -type f | sort) | while read -r input; do
      [ -n "$input" ] && echo "!! input: $input  (replay: $binary $input)"
    done
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
