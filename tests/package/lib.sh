# Shared by the install and package tests: failing, and a simulator to read
# from. Source it; set `scratch` first.

fail() {
  echo "$(basename "$0"): FAILED: $*" >&2
  exit 1
}

# start_sim SIMULATOR [OPTIONS...]: runs the simulator until stop_sim, or
# until this script ends (its standard input closes then), and sets `pty`
# to the port it plays on.
start_sim() {
  local out="$scratch/sim.out" err="$scratch/sim.err" tries=0
  : >"$out"
  exec {sim_input}> >(exec "$@" --exit-on-eof >"$out" 2>"$err")
  sim_pid=$!
  # A bound on how long a broken simulator can hold the test, not a check
  # of its speed.
  until grep -q '^/dev/' "$out"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 300 ] || ! kill -0 "$sim_pid" 2>/dev/null; then
      cat "$err" >&2 || true
      fail "the simulator $1 did not start"
    fi
    sleep 0.1
  done
  pty="$(head -n 1 "$out")"
}

stop_sim() {
  [ -n "${sim_pid:-}" ] || return 0
  exec {sim_input}>&-
  kill "$sim_pid" 2>/dev/null || true
  while kill -0 "$sim_pid" 2>/dev/null; do sleep 0.1; done
  sim_pid=""
}

# read_from_sim MELBAX SIMULATOR: the simulator holds 0x1234 in parameter
# 10 of station 01; melbax must read exactly that through the driver.
read_from_sim() {
  local melbax="$1" sim="$2" output
  start_sim "$sim" --stations 01 --set 10=0x1234 --freeze
  echo "+ melbax --port $pty read 0110"
  output="$(env -u KAVIROS_DRIVER "$melbax" --port "$pty" read 0110)" ||
    fail "melbax read 0110 against the simulator exited with $?: $output"
  echo "$output"
  grep -Eq '^0110 +uint16 +4660 \(0x1234\)$' <<<"$output" ||
    fail "melbax read 0110 printed '$output', expected the value 4660 (0x1234)"
  stop_sim
}
