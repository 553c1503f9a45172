#!/usr/bin/env python3
"""Runs exit_probe RUNS times against a server of its own that accepts connections and never
says a word, and fails unless every run ends with an accepted exit code within its time:

    exit_runs.py RUNS ACCEPTED_CODES PROGRAM [WRAPPER ARGS...]     (codes like 0,3)

The probe's arguments (PORT DELAY_MS INTERNAL_LIMIT_MS VIA_PROXY) are appended. Used for the
Windows build under Wine; natively, network_process_test does the same and accepts only 0.
Wine's WinINet does not cancel a call blocked on a handle that another thread closes (Windows
does), so there the probe may report 3 (a fetch still inside WinINet at the end); what must
never happen is a crash or a hang.
"""
import socket
import subprocess
import sys
import threading


def main():
    runs = int(sys.argv[1])
    accepted = {int(c) for c in sys.argv[2].split(",")}
    command = sys.argv[3:]
    listener = socket.create_server(("127.0.0.1", 0), backlog=64)
    port = listener.getsockname()[1]
    held = []

    def accept_all():
        while True:
            held.append(listener.accept())

    threading.Thread(target=accept_all, daemon=True).start()
    failures = 0
    for run in range(runs):
        args = [str(port), "300", ("2000", "250", "290")[run % 3], "1" if run % 2 else "0"]
        try:
            code = subprocess.run(command + args, timeout=60).returncode
        except subprocess.TimeoutExpired:
            code = "a hang"
        if code == 77 and run == 0:
            sys.exit(77)  # wine-run.sh: this machine cannot start the program at all
        if code != 0:
            print("run %d (%s) ended with %s" % (run, " ".join(args), code))
        if code not in accepted:
            failures += 1
    print("%d of %d runs ended acceptably; %d connections reached the server" % (runs - failures, runs, len(held)))
    sys.exit(1 if failures or not held else 0)


if __name__ == "__main__":
    main()
