# Sourced by the scripts that show the programs at work (scripts/run, scripts/screenshots), from
# the repository's root: builds them, and runs a simulated display for the script's lifetime.

# build_programs [DIR]: sets up the machine and builds. Without DIR: the default preset, all of
# it. With DIR: that build directory (configured like the default preset when it is new), only
# zorvid-l, zorvidctl and zorvid-sim. Sets build_dir.
build_programs() {
  scripts/setup
  if [ -z "${1:-}" ]; then
    build_dir=build/default
    cmake --preset default >/dev/null
    cmake --build --preset default
    return
  fi
  build_dir=$1
  [ -f "$build_dir/CMakeCache.txt" ] ||
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZORVID_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build_dir" -j2 --target zorvid-l zorvidctl zorvid-sim
}

# start_sim [OPTIONS...]: starts $build_dir's zorvid-sim on a free loopback port with OPTIONS and
# stops it when the script exits. Sets sim_pid, sim_port and sim_connection.
start_sim() {
  sim_output=$(mktemp)
  "$build_dir/tools/sim/zorvid-sim" --tcp 127.0.0.1:0 "$@" >"$sim_output" &
  sim_pid=$!
  trap stop_sim EXIT
  for _ in $(seq 100); do grep -q '^TCP ' "$sim_output" && break; sleep 0.05; done
  sim_port=$(sed -n 's/^TCP 127.0.0.1:\([0-9]*\)$/\1/p' "$sim_output")
  [ -n "$sim_port" ] || { echo "zorvid-sim did not start" >&2; exit 1; }
  sim_connection="provider=TCP_CLIENT;host=127.0.0.1;port=$sim_port"
}

stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -f "$sim_output"
}
