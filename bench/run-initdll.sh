#!/usr/bin/env bash
# Module cycles (InitDLL, one method call, finalize) over one kept-alive connection, with a 1 MiB
# and a 10 MiB module, next to the machine's SHA-256 throughput in the same run.
#
#   bench/run-initdll.sh
#
# Builds the agent (Release, with the card-module fixture and the list tool) and the cycle
# client, then for each size: a program folder holding a copy of the agent, the fixture padded
# to that size as DorVIKA.dll and an Ostrabel.ini listing it; a private agent started from there;
# initdll_cycle for BENCH_SECONDS. Then `openssl speed -evp sha256` on the agent's CPU. Prints a
# markdown table (also left in the work folder as results-initdll.md).
#
# Environment (all optional), besides those of lib.sh:
#   BENCH_SECONDS  seconds per measurement (10)
#   BENCH_SIZES    module sizes in MiB (1 10)
set -euo pipefail
seconds=${BENCH_SECONDS:-10}
sizes=${BENCH_SIZES:-1 10}
source "$(dirname "$0")/lib.sh"
cycle="$tools/initdll_cycle"

for tool in cmake ninja openssl ss taskset; do
  command -v "$tool" >/dev/null || die "$tool is missing (bench/install-deps installs it)"
done

say "building the agent of $source_tree in $build and the cycle client in $tools"
cmake -S "$source_tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DOSTRABEL_BUILD_TESTS=ON >"$work/cmake-agent.log" ||
  die "agent configuration failed: $work/cmake-agent.log"
ninja -C "$build" DorvikaOstrabel ostrabel-list card_module_fixture >"$work/ninja-agent.log" ||
  die "agent build failed: $work/ninja-agent.log"
cmake -S "$here" -B "$tools" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$work/cmake-tools.log" ||
  die "client configuration failed: $work/cmake-tools.log"
cmake --build "$tools" >"$work/build-tools.log" || die "client build failed: $work/build-tools.log"
fixture="$build/tests/fixtures/card_module/DorVIKA.dll"
list_tool="$build/tools/ostrabel_list/ostrabel-list"
built_agent="$build/agent/shell/DorvikaOstrabel"

kv() { grep -o "\b$2=[^ ]*" "$1" | tail -1 | cut -d= -f2; }

declare -A result
for mib in $sizes; do
  folder="$work/program-${mib}m"
  mkdir -p "$folder"
  cp "$built_agent" "$folder/DorvikaOstrabel"
  # An ELF file with bytes after its end still loads; random bytes, so that nothing is sparse.
  cp "$fixture" "$folder/DorVIKA.dll"
  padding=$((mib * 1048576 - $(stat -c %s "$fixture")))
  [ "$padding" -ge 0 ] || die "the fixture is larger than $mib MiB"
  head -c "$padding" /dev/urandom >>"$folder/DorVIKA.dll"
  (cd "$folder" && "$list_tool" write --key "$top/agent/resources/dev/list-signing.key.pem" \
    --cert "$top/agent/resources/dev/localhost.crt.der" --out Ostrabel.ini DorVIKA.dll) \
    >"$work/list-${mib}m.log" 2>&1 || die "the list could not be written: $work/list-${mib}m.log"

  agent_bin="$folder/DorvikaOstrabel"
  start_agent
  say "$mib MiB: agent pid $agent_pid, port $agent_port"
  out="$work/cycle-${mib}m"
  ticks_before=$(awk '{print $14 + $15}' "/proc/$agent_pid/stat")
  "${pin_client[@]}" "$cycle" --port "$agent_port" --cacert "$ca" --seconds "$seconds" \
    >"$out.out" 2>"$out.err" || die "the cycle client failed: $out.err"
  ticks_after=$(awk '{print $14 + $15}' "/proc/$agent_pid/stat")
  stop_agent
  for key in cycles cycles_per_s ms_per_cycle init_ms method_ms finalize_ms p50_ms p99_ms; do
    result[$mib.$key]=$(kv "$out.out" "$key")
  done
  result[$mib.agent_cpu_ms]=$(awk -v a="$ticks_before" -v b="$ticks_after" -v t="$(getconf CLK_TCK)" \
    -v n="${result[$mib.cycles]}" 'BEGIN {printf "%.3f", 1000 * (b - a) / t / n}')
done

say "openssl speed -evp sha256"
"${pin_server[@]}" openssl speed -evp sha256 -seconds 3 >"$work/sha256.out" 2>/dev/null
# The last column, 16384-byte blocks, in kB/s (1000 bytes) as openssl prints it.
sha_bytes=$(awk '/^sha256/ {v = $NF; sub(/k$/, "", v); printf "%.0f", v * 1000}' "$work/sha256.out")
[ -n "$sha_bytes" ] || die "openssl speed printed no sha256 line: $work/sha256.out"

{
  echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores," \
    "Linux $(uname -r), $(openssl version | cut -d' ' -f1-2)"
  echo "Pinning: $pinning. One connection, ${seconds} s per size."
  echo "SHA-256 (openssl speed -evp sha256, 16384-byte blocks): $(awk -v b="$sha_bytes" \
    'BEGIN {printf "%.0f MB/s", b / 1e6}')"
  echo
  echo "| module | cycles | cycles/s | ms per cycle | InitDLL ms | method ms | finalize ms | p99 ms | agent CPU ms per cycle | hashing ms | hashing share |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  for mib in $sizes; do
    awk -v mib="$mib" -v c="${result[$mib.cycles]}" -v r="${result[$mib.cycles_per_s]}" \
      -v ms="${result[$mib.ms_per_cycle]}" -v i="${result[$mib.init_ms]}" \
      -v m="${result[$mib.method_ms]}" -v f="${result[$mib.finalize_ms]}" \
      -v p99="${result[$mib.p99_ms]}" -v cpu="${result[$mib.agent_cpu_ms]}" -v sha="$sha_bytes" \
      'BEGIN {hash = 1000 * mib * 1048576 / sha
        printf "| %s MiB | %d | %.1f | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f | %.1f%% |\n",
          mib, c, r, ms, i, m, f, p99, cpu, hash, 100 * hash / ms}'
  done
} | tee "$work/results-initdll.md"
say "results and raw outputs: $work"
