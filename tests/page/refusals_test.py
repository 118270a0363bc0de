#!/usr/bin/python3
"""What `ktnet serve` refuses, asked over real HTTP: a page other machines reach without a
password, a wrong password, a change without the session's token, a foreign Origin or Host, an
upload that is too large or no PLU file, and a name outside the server's folders.
Usage: refusals_test.py --ktnet PATH"""
import argparse
import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Page:
    def __init__(self, port):
        self.port = port
        self.cookie = ""
        self.token = ""

    def ask(self, method, path, body=None, headers=None, content_type="application/json"):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        h = {"Host": f"127.0.0.1:{self.port}"}
        if self.cookie:
            h["Cookie"] = self.cookie
        if body is not None:
            h["Content-Type"] = content_type
        h.update(headers or {})
        c.request(method, path, body=body, headers=h)
        r = c.getresponse()
        text = r.read()
        if r.getheader("Set-Cookie"):
            self.cookie = r.getheader("Set-Cookie").split(";")[0]
        c.close()
        try:
            return r.status, json.loads(text)
        except ValueError:
            return r.status, text

    def post(self, path, value, headers=None):
        h = {"X-Ktnet-Token": self.token}
        h.update(headers or {})
        return self.ask("POST", path, json.dumps(value), h)

    def upload(self, name, content):
        boundary = "ktnetboundary7"
        body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"file\"; "
                f"filename=\"{name}\"\r\nContent-Type: application/octet-stream\r\n\r\n"
                ).encode() + content + f"\r\n--{boundary}--\r\n".encode()
        return self.ask("POST", "/api/upload", body, {"X-Ktnet-Token": self.token},
                        f"multipart/form-data; boundary={boundary}")


failures = []


def expect(what, got, wanted):
    ok = got == wanted
    print(f"{'ok' if ok else 'FAILED'}: {what}: {got}" + ("" if ok else f", wanted {wanted}"))
    if not ok:
        failures.append(what)


def main():
    args = argparse.ArgumentParser()
    args.add_argument("--ktnet", required=True)
    ktnet = os.path.abspath(args.parse_args().ktnet)
    with tempfile.TemporaryDirectory() as d:
        os.chdir(d)
        with open("shop", "w", encoding="utf-8") as f:
            f.write("1S1 wędliny\n")
        common = ["--shop", "shop", "--store", "shop.db"]

        lan = subprocess.run([ktnet, "serve", "--listen", f"0.0.0.0:{free_port()}"] + common,
                             capture_output=True, text=True, timeout=30)
        expect("a LAN listen without a password exits", lan.returncode, 2)
        expect("and says it needs a password", "needs --password-file" in lan.stderr, True)

        made = subprocess.run([ktnet, "serve", "--set-password", "pw"], input="ladne wagi 7\n",
                              capture_output=True, text=True, timeout=30)
        expect("--set-password writes the file", made.returncode, 0)
        with open("pw", encoding="utf-8") as f:
            expect("the file holds no password", "ladne" in f.read(), False)

        port = free_port()
        server = subprocess.Popen([ktnet, "serve", "--listen", f"127.0.0.1:{port}",
                                   "--password-file", "pw"] + common, stderr=subprocess.PIPE)
        try:
            page = Page(port)
            for _ in range(100):
                try:
                    status, session = page.ask("GET", "/api/session")
                    break
                except OSError:
                    time.sleep(0.1)
            page.token = session["token"]
            expect("the session says a password is needed", session["password"], True)
            expect("data before a login", page.ask("GET", "/api/overview")[0], 401)
            expect("a login without the token", page.ask(
                "POST", "/api/login", json.dumps({"password": "ladne wagi 7"}))[0], 403)
            started = time.monotonic()
            expect("a wrong password", page.post("/api/login", {"password": "ladne"})[0], 403)
            print(f"note: the wrong password was answered after {time.monotonic() - started:.1f} s")
            expect("the right password", page.post("/api/login", {"password": "ladne wagi 7"})[0], 200)
            status, overview = page.ask("GET", "/api/overview")
            expect("the overview after a login", status, 200)
            expect("its scale's Polish name", overview["scales"][0]["name"], "wędliny")

            expect("a change without the token", page.ask(
                "POST", "/api/jobs", json.dumps({"kind": "scan"}))[0], 403)
            expect("a change with another token", page.post(
                "/api/jobs/stop", {}, {"X-Ktnet-Token": "0" * 32})[0], 403)
            expect("a change from a foreign Origin", page.post(
                "/api/jobs/stop", {}, {"Origin": "http://evil.example"})[0], 403)
            expect("a request naming another Host", page.ask(
                "GET", "/api/overview", headers={"Host": f"rebound.example:{port}"})[0], 403)
            expect("a method other than GET and POST", page.ask("DELETE", "/api/job")[0], 405)

            status, too_big = page.upload("big.txt", b"1" * (16 * 1024 * 1024 + 70 * 1024))
            expect("an upload above 16 MB", status, 413)
            status, junk = page.upload("junk.txt", bytes(range(256)) * 40)
            expect("a junk upload is taken in", status, 200)
            expect("but is not fit to send", junk["ok"], False)
            expect("and says why", len(junk["problems"]) > 0, True)
            status, _ = page.post("/api/jobs", {"kind": "load", "scales": ["1S1"],
                                                "file": junk["id"], "password": "nope"})
            expect("a load with a wrong password", status, 403)
            status, _ = page.post("/api/jobs", {"kind": "restore", "scales": ["1S1"],
                                                "backup": "../shop.db", "plan": True})
            expect("a restore naming a file outside the backups", status, 400)
            expect("a path outside the page", page.ask("GET", "/../shop.db")[0], 404)
        finally:
            server.terminate()
            server.wait(timeout=30)
    if failures:
        print(f"{len(failures)} refusals failed: {', '.join(failures)}", file=sys.stderr)
        return 1
    print("every refusal held")
    return 0


if __name__ == "__main__":
    sys.exit(main())
