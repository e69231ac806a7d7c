#!/usr/bin/env bash
# Sign calls through the agent next to the same calls made straight into the login module, in
# the same run, against a SoftHSM token (RSA-2048, user PIN 1234).
#
#   bench/run-sign.sh
#
# Builds the agent (Release, with the login module and the list tool) and the clients, makes a
# private SoftHSM token set (tests/login_token/make-softhsm-token.sh), and fills one program
# folder: a copy of the agent, Quillomat.dll, an Ostrabel.ini listing it, the QORVPKCS11.dll link
# and a copy of bare_sign (the module finds its PKCS#11 library beside the running program, so
# both callers run from there). Each round measures, one after the other (the agent first in odd
# rounds):
#   agent  initdll_cycle --mode sign: one kept-alive connection, InitDLL=Quillomat once, then sign
#          calls with Param1=1234 and a random 32-digit hex Param2 for BENCH_SECONDS
#   bare   bare_sign: the module loaded by path, its "_sign$8" called with the same arguments
# Prints a markdown table (also left in the work folder as results-sign.md).
#
# Environment (all optional), besides those of lib.sh:
#   BENCH_SECONDS  seconds per measurement (10)
#   BENCH_ROUNDS   rounds (2)
set -euo pipefail
seconds=${BENCH_SECONDS:-10}
rounds=${BENCH_ROUNDS:-2}
source "$(dirname "$0")/lib.sh"
cycle="$tools/initdll_cycle"
bare="$tools/bare_sign"

for tool in cmake ninja openssl ss taskset; do
  command -v "$tool" >/dev/null || die "$tool is missing (bench/install-deps installs it)"
done

say "building the agent of $source_tree in $build and the clients in $tools"
cmake -S "$source_tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DOSTRABEL_BUILD_TESTS=ON >"$work/cmake-agent.log" ||
  die "agent configuration failed: $work/cmake-agent.log"
ninja -C "$build" DorvikaOstrabel Quillomat ostrabel-list >"$work/ninja-agent.log" ||
  die "agent build failed: $work/ninja-agent.log"
cmake -S "$here" -B "$tools" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$work/cmake-tools.log" ||
  die "client configuration failed: $work/cmake-tools.log"
cmake --build "$tools" >"$work/build-tools.log" || die "client build failed: $work/build-tools.log"
module="$build/loginmodule/Quillomat.dll"
list_tool="$build/tools/ostrabel_list/ostrabel-list"
built_agent="$build/agent/shell/DorvikaOstrabel"

say "making the SoftHSM token set"
library_folder=$("$top/tests/login_token/make-softhsm-token.sh" "$work/token" 2>"$work/token.log" |
  tail -1) || die "no token: $work/token.log"
export SOFTHSM2_CONF="$work/token/softhsm2.conf"

folder="$work/program"
mkdir -p "$folder"
cp "$built_agent" "$folder/DorvikaOstrabel"
cp "$module" "$folder/Quillomat.dll"
cp "$bare" "$folder/bare_sign"
ln -sfn "$(readlink -f "$library_folder/QORVPKCS11.dll")" "$folder/QORVPKCS11.dll"
(cd "$folder" && "$list_tool" write --key "$top/agent/resources/dev/list-signing.key.pem" \
  --cert "$top/agent/resources/dev/localhost.crt.der" --out Ostrabel.ini Quillomat.dll) \
  >"$work/list.log" 2>&1 || die "the list could not be written: $work/list.log"
agent_bin="$folder/DorvikaOstrabel"

kv() { grep -o "\b$2=[^ ]*" "$1" | tail -1 | cut -d= -f2; }

declare -A result
measure_agent() {
  local out="$work/agent-$1"
  start_agent
  say "round $1, agent: pid $agent_pid, port $agent_port"
  local before after
  before=$(awk '{print $14 + $15}' "/proc/$agent_pid/stat")
  "${pin_client[@]}" "$cycle" --mode sign --port "$agent_port" --cacert "$ca" \
    --seconds "$seconds" >"$out.out" 2>"$out.err" || die "the sign client failed: $out.err"
  after=$(awk '{print $14 + $15}' "/proc/$agent_pid/stat")
  stop_agent
  for key in signs signs_per_s ms_per_sign init_ms p50_ms p99_ms; do
    result[agent.$1.$key]=$(kv "$out.out" "$key")
  done
  result[agent.$1.cpu_ms]=$(awk -v a="$before" -v b="$after" -v t="$(getconf CLK_TCK)" \
    -v n="${result[agent.$1.signs]}" 'BEGIN {printf "%.3f", 1000 * (b - a) / t / n}')
}
measure_bare() {
  local out="$work/bare-$1"
  say "round $1, bare"
  (cd "$folder" && exec "${pin_server[@]}" ./bare_sign --module "$folder/Quillomat.dll" \
    --seconds "$seconds") >"$out.out" 2>"$out.err" || die "bare_sign failed: $out.err"
  for key in signs signs_per_s ms_per_sign p50_ms p99_ms; do
    result[bare.$1.$key]=$(kv "$out.out" "$key")
  done
}

for round in $(seq "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then
    measure_agent "$round"
    measure_bare "$round"
  else
    measure_bare "$round"
    measure_agent "$round"
  fi
done

{
  echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores," \
    "Linux $(uname -r), $(openssl version | cut -d' ' -f1-2)," \
    "SoftHSM $(dpkg-query -W -f='${Version}' softhsm2 2>/dev/null)"
  echo "Pinning: $pinning (bare_sign on the servers' CPU). ${seconds} s per measurement."
  echo
  echo "| round | caller | signs | signs/s | ms per sign | p50 ms | p99 ms | agent CPU ms per sign | agent / bare signs/s |"
  echo "|---|---|---:|---:|---:|---:|---:|---:|---:|"
  for round in $(seq "$rounds"); do
    awk -v r="$round" -v n="${result[agent.$round.signs]}" -v s="${result[agent.$round.signs_per_s]}" \
      -v ms="${result[agent.$round.ms_per_sign]}" -v p50="${result[agent.$round.p50_ms]}" \
      -v p99="${result[agent.$round.p99_ms]}" -v cpu="${result[agent.$round.cpu_ms]}" \
      -v bs="${result[bare.$round.signs_per_s]}" \
      'BEGIN {printf "| %s | agent | %d | %.1f | %.3f | %.3f | %.3f | %.3f | %.3f |\n",
        r, n, s, ms, p50, p99, cpu, s / bs}'
    awk -v r="$round" -v n="${result[bare.$round.signs]}" -v s="${result[bare.$round.signs_per_s]}" \
      -v ms="${result[bare.$round.ms_per_sign]}" -v p50="${result[bare.$round.p50_ms]}" \
      -v p99="${result[bare.$round.p99_ms]}" \
      'BEGIN {printf "| %s | bare | %d | %.1f | %.3f | %.3f | %.3f | | |\n", r, n, s, ms, p50, p99}'
  done
} | tee "$work/results-sign.md"
say "results and raw outputs: $work"
