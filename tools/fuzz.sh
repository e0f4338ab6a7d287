#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (FUZZ_SECONDS,
# default 60) on a copy of its seed corpus. A crash, leak, sanitizer report or hang fails the
# run; the input that caused it is left in build/fuzz/findings/ to be added to the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

findings=build/fuzz/findings
mkdir -p "$findings"
passed=0
failed=0
for seeds in fuzz/corpus/*/; do
  target=$(basename "$seeds")
  work=$(mktemp -d)
  echo "== fuzz_$target for ${seconds}s"
  dict=()
  [[ -f fuzz/$target.dict ]] && dict=(-dict="fuzz/$target.dict")
  if ! build/fuzz/fuzz/"fuzz_$target" "$work" "$seeds" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=65536 -artifact_prefix="$findings/$target-" -print_final_stats=1 \
      >"$findings/$target.log" 2>&1; then
    echo "fuzz_$target found a problem:"
    tail -n 40 "$findings/$target.log"
    failed=$((failed + 1))
  else
    grep -E '^Done' "$findings/$target.log" | tail -n 1 || true
    passed=$((passed + 1))
  fi
  rm -rf "$work"
done
echo "fuzz: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
