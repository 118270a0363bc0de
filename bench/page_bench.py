#!/usr/bin/python3
"""What the shop's page costs, measured through the real server under ktnet-emu: the overview
and a scale page of 10000 articles, the spacing of the progress events while a job runs, a
backup started from the page against the same backup from the command line (each as its time
over the link's floor of 8 ms per exchange), and the server's memory over 1000 page loads.
Prints "name value" lines for bench/run. Not a test: nothing here fails on a slow machine.
Usage: page_bench.py --ktnet PATH --emu PATH [--reps N]"""
import argparse
import http.client
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scales_file(path, scales, records):
    with open(path, "w", encoding="latin-1", newline="") as f:
        for scale in scales:
            for plu in range(1, records + 1):
                name = f"TOWAR {plu}".ljust(24)
                f.write(f"{scale} xx{plu:06d} {name} {plu % 999999:06d} x 001001 000000 "
                        f"000000 000000 01 00 0 0 00 0 0 0 0 000000 000000 00 0 "
                        f"00000000000000 00 0\r\r\n")


class Page:
    def __init__(self, port):
        self.port, self.cookie, self.token = port, "", ""

    def ask(self, method, path, body=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=120)
        h = {"Host": f"127.0.0.1:{self.port}", "Cookie": self.cookie}
        if body is not None:
            h.update({"Content-Type": "application/json", "X-Ktnet-Token": self.token})
        c.request(method, path, body=body, headers=h)
        r = c.getresponse()
        data = r.read()
        if r.getheader("Set-Cookie"):
            self.cookie = r.getheader("Set-Cookie").split(";")[0]
        c.close()
        return r.status, data

    def json(self, path, value=None):
        status, data = self.ask("POST" if value is not None else "GET", path,
                                None if value is None else json.dumps(value))
        if status >= 300:
            sys.exit(f"page_bench: {path}: {status} {data[:200]!r}")
        return json.loads(data)

    def wait_job(self):
        while True:
            job = self.json("/api/job")["job"]
            if job and job["state"] != "running":
                return job
            time.sleep(0.05)


def rss_kib(pid):
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def serving(ktnet, emu, latency_us, port, scales):
    cmd = [emu, "--scales", "scales.txt"] + [a for s in scales for a in ("--scale", s)]
    if latency_us:
        cmd += ["--latency-us", str(latency_us)]
    cmd += ["--", ktnet, "serve", "--listen", f"127.0.0.1:{port}", "--shop", "shop", "--store",
            "shop.db"]
    server = subprocess.Popen(cmd, stderr=subprocess.DEVNULL)
    page = Page(port)
    for _ in range(200):
        try:
            page.token = page.json("/api/session")["token"]
            return server, page
        except (OSError, SystemExit):
            time.sleep(0.05)
    sys.exit("page_bench: the server did not answer")


def stop(server):
    for p in subprocess.run(["pgrep", "-P", str(server.pid)], capture_output=True,
                            text=True).stdout.split():
        subprocess.run(["kill", "-TERM", p])
    server.wait(timeout=60)


def server_pid(server):
    kids = subprocess.run(["pgrep", "-P", str(server.pid)], capture_output=True,
                          text=True).stdout.split()
    return int(kids[0]) if kids else server.pid


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--ktnet", required=True)
    a.add_argument("--emu", required=True)
    a.add_argument("--reps", type=int, default=5)
    args = a.parse_args()
    ktnet, emu = os.path.abspath(args.ktnet), os.path.abspath(args.emu)
    with tempfile.TemporaryDirectory() as d:
        os.chdir(d)
        with open("shop", "w", encoding="utf-8") as f:
            f.write("1S1 wędliny\n1S2 sery\n1S3 pieczywo\n")

        # A scale of 10000 articles in the store, read in by a backup from the page.
        scales_file("scales.txt", ["1 S 01"], 10000)
        server, page = serving(ktnet, emu, 0, free_port(), ["1:S:1"])
        page.json("/api/jobs", {"kind": "backup", "scales": ["1S1"], "plu": "1-10000"})
        if page.wait_job()["state"] != "done":
            sys.exit("page_bench: the backup of 10000 records failed")
        timings = {"overview_ms": "/api/overview", "scale_page_ms": "/api/scale?address=1S1"}
        for name, path in timings.items():
            runs = []
            for _ in range(args.reps * 4):
                t = time.perf_counter()
                status, _ = page.ask("GET", path)
                runs.append((time.perf_counter() - t) * 1000)
            print(name, f"{statistics.median(runs):.1f}")
        pid = server_pid(server)
        for _ in range(50):
            page.ask("GET", "/"), page.ask("GET", "/api/overview")
        before = rss_kib(pid)
        for _ in range(1000):
            page.ask("GET", "/"), page.ask("GET", "/api/overview")
        print("rss_before_kib", before)
        print("rss_after_1000_kib", rss_kib(pid))
        stop(server)

        # Three scales of 200 records at 8 ms an exchange: the page's backup and the command
        # line's, each as the sum of its scales' times over the floor.
        scales_file("scales.txt", ["1 S 01", "1 S 02", "1 S 03"], 200)
        floor = 600 * 0.008
        cli = []
        for _ in range(args.reps):
            out = subprocess.run([emu, "--scales", "scales.txt", "--latency-us", "8000", "--",
                                  ktnet, "backup", "1S1,1S2,1S3", "--plu", "1-200", "--dir", "b",
                                  "--shop", "shop", "--store", "cli.db", "--json"],
                                 capture_output=True, text=True, check=True).stdout
            cli.append(sum(s["seconds"] for s in json.loads(out)["scales"]) / floor)
        server, page = serving(ktnet, emu, 8000, free_port(), [])
        ratios, gaps = [], []
        for _ in range(args.reps):
            page.json("/api/jobs", {"kind": "backup", "scales": ["1S1", "1S2", "1S3"],
                                    "plu": "1-200"})
            c = http.client.HTTPConnection("127.0.0.1", page.port, timeout=60)
            c.request("GET", "/api/events", headers={"Host": f"127.0.0.1:{page.port}",
                                                     "Cookie": page.cookie})
            r = c.getresponse()
            last = None
            while True:
                line = r.fp.readline()
                if not line.startswith(b"data:"):
                    continue
                t = time.monotonic()
                if last is not None:
                    gaps.append(t - last)
                last = t
                if json.loads(line[5:])["state"] != "running":
                    break
            c.close()
            job = page.wait_job()
            ratios.append(sum(s["seconds"] for s in job["document"]["scales"]) / floor)
        stop(server)
        print("cli_ratio", f"{statistics.median(cli):.3f}")
        print("page_ratio", f"{statistics.median(ratios):.3f}")
        print("event_gap_min_s", f"{min(gaps):.2f}")
        print("event_gap_max_s", f"{max(gaps):.2f}")


if __name__ == "__main__":
    main()
