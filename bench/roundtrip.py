#!/usr/bin/env python3
"""Round trips and session start of the proxy, each against a minimal Win32 baseline.

Both sides run under the same Wine prefix in the same run, one after the other,
so the figures compare the program with what Wine and loopback TCP cost anyway:

  - round trips: action 3 with a 4-byte body, answered 0x1003 "OK" (30 bytes),
    one request in flight at a time; the baseline is bench/echo_peer.exe.
  - session start: from process start to the moment accept() returns here;
    the baseline is bench/connect_only.exe.

Run with the rig's services up (scripts/services start) and the build in
$PROXY_BUILD_DIR:
    python3 bench/roundtrip.py [--requests N] [--repeats R] [--starts S]
"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import time

SOURCE_DIR = os.environ.get(
    "PROXY_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
)
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
import protocol as p  # noqa: E402

BUILD_DIR = os.environ.get("PROXY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")
WARM_UP_REQUESTS = 200
ACCEPT_TIMEOUT = 60


def exe(name):
    return os.path.join(BUILD_DIR, name + ".exe")


def ok_reply(req_id):
    return p.frame(p.ANSWER + p.SET_VALUE, req_id, p.text_body(0, b"OK"))


def bench_env():
    env = dict(os.environ)
    env.update(NO_RPC="1", WINEDEBUG="-all", PROXY_BUILD_DIR=BUILD_DIR)
    return env


def listen():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    return listener


def launch(name, port, log):
    # The proxy reads the port as the second command-line entry; the
    # baselines take the last argument, so both get "x PORT".
    return subprocess.Popen(
        [WINE_RUN, exe(name), "x", str(port)],
        env=bench_env(),
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=log,
    )


def accept_while_alive(listener, process, name, log_path):
    """The connection, or exit with what became of the process."""
    deadline = time.monotonic() + ACCEPT_TIMEOUT
    listener.settimeout(0.2)
    while time.monotonic() < deadline:
        try:
            return listener.accept()[0]
        except socket.timeout:
            if process.poll() is not None:
                sys.exit(
                    "%s exited with %d before connecting (stderr: %s)"
                    % (name, process.returncode, log_path)
                )
    process.kill()
    process.wait()
    sys.exit("%s did not connect within %d s (stderr: %s)" % (name, ACCEPT_TIMEOUT, log_path))


def start_and_accept(name):
    """(process, connection, seconds from launch to accept)."""
    listener = listen()
    log_path = os.path.join(BUILD_DIR, "logs", "bench-%s.stderr" % name)
    os.makedirs(os.path.dirname(log_path), exist_ok=True)
    with open(log_path, "wb") as log, listener:
        started = time.perf_counter()
        process = launch(name, listener.getsockname()[1], log)
        conn = accept_while_alive(listener, process, name, log_path)
        elapsed = time.perf_counter() - started
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    conn.settimeout(10)
    return process, conn, elapsed


def receive_exact(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            raise ConnectionError("peer closed after %d of %d bytes" % (len(data), count))
        data += chunk
    return data


def round_trips(conn, first_id, count):
    body = p.u32(1)
    for req_id in range(first_id, first_id + count):
        conn.sendall(p.frame(p.SET_VALUE, req_id, body))
        answer = receive_exact(conn, 30)
        if answer != ok_reply(req_id):
            raise AssertionError("request %d answered %r" % (req_id, answer))


def finish(name, process, conn):
    # The proxy leaves on a print-done notice; the baselines when the server closes.
    if name == "tavri-printer-proxy":
        conn.sendall(p.frame(p.PRINT_DONE, 0, p.text_body(0)))
    conn.close()
    try:
        process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        sys.exit("%s did not exit" % name)


def measure_rate(name, requests):
    process, conn, _ = start_and_accept(name)
    round_trips(conn, 1, WARM_UP_REQUESTS)
    started = time.perf_counter()
    round_trips(conn, 1 + WARM_UP_REQUESTS, requests)
    elapsed = time.perf_counter() - started
    finish(name, process, conn)
    return requests / elapsed


def measure_start(name):
    process, conn, elapsed = start_and_accept(name)
    finish(name, process, conn)
    return elapsed


def alternate(measure, names, repeats):
    """Median per name, the names taking turns so drift hits both alike."""
    samples = {name: [] for name in names}
    for _ in range(repeats):
        for name in names:
            samples[name].append(measure(name))
    return {name: statistics.median(values) for name, values in samples.items()}, samples


def check_built(names):
    missing = [exe(name) for name in names if not os.path.exists(exe(name))]
    if missing:
        sys.exit("not built: %s" % ", ".join(missing))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--requests", type=int, default=5000, help="timed requests per run")
    parser.add_argument("--repeats", type=int, default=5, help="runs per program (median)")
    parser.add_argument("--starts", type=int, default=7, help="session starts per program")
    args = parser.parse_args()
    check_built(["tavri-printer-proxy", "echo_peer", "connect_only"])

    rates, rate_samples = alternate(
        lambda n: measure_rate(n, args.requests), ["tavri-printer-proxy", "echo_peer"], args.repeats
    )
    starts, start_samples = alternate(
        measure_start, ["tavri-printer-proxy", "connect_only"], args.starts
    )
    program_rate, echo_rate = rates["tavri-printer-proxy"], rates["echo_peer"]
    program_start, baseline_start = starts["tavri-printer-proxy"], starts["connect_only"]

    print("round trips, action 3, %d requests x %d runs (median):" % (args.requests, args.repeats))
    report("program", program_rate, "requests/s", rate_samples["tavri-printer-proxy"])
    report("echo", echo_rate, "requests/s", rate_samples["echo_peer"])
    print("  ratio program/echo: %.2f" % (program_rate / echo_rate))
    print("session start, process start to accept, %d runs (median):" % args.starts)
    report("program", program_start * 1e3, "ms", start_samples["tavri-printer-proxy"], 1e3)
    report("connect only", baseline_start * 1e3, "ms", start_samples["connect_only"], 1e3)
    print(
        "  ratio connect-only/program (1.0 = starts as fast): %.2f"
        % (baseline_start / program_start)
    )


def report(label, median, unit, samples, factor=1.0):
    runs = " ".join("%.0f" % (value * factor) for value in samples)
    print("  %-13s %8.1f %-11s runs: %s" % (label, median, unit, runs))


if __name__ == "__main__":
    main()
