#!/usr/bin/python3
"""The shop's page in a real browser.

Starts `ktnet serve` under `ktnet-emu` with six scales, drives the page in headless Chromium and
checks what each job did on the page and where it really lands: the backup files, the emulated
scales' memory, the shop's store. One line per step goes to standard output; a failure is said
on standard error and the exit status is 1.

    page_test.py --ktnet build/release/ktnet/ktnet --emu build/release/emu/ktnet-emu \
                 [--screenshots DIR]
"""

import argparse
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
from pathlib import Path

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

# The shop: six scales, their names in Polish. 2T1 holds nothing yet: the load goes there too.
SHOP = [
    ("1S1", "wędliny"),
    ("1S2", "sery-żółte"),
    ("1S3", "pieczywo"),
    ("2S1", "ryby-świeże"),
    ("2S2", "mięso"),
    ("2T1", "garmażerka"),
]
EMPTY_SCALE = "2T1"
RECORDS_EACH = 30  # PLUs 1-30 on every other scale
BACKUP_PLUS = 40  # the backup reads PLUs 1-40
LONG_BACKUP_PLUS = 4000  # with the answers' latency this backup runs some seconds
LATENCY_US = 2000

PRODUCTS = [
    "KIEŁBASA ŚLĄSKA",
    "Szynka wędzona",
    "SER ŻÓŁTY GOUDA",
    "Łosoś wędzony",
    "CHLEB ŻYTNI",
    "Pączek z różą",
    "POLĘDWICA SOPOCKA",
    "Kurczak świeży",
    "ŹRÓDLANA WODA",
    "Bułka maślana",
]

# New articles of the load: PLUs the scales hold already, with other names and prices.
LOADED = {
    3: ("ŁOSOŚ NORWESKI ŚWIEŻY", "001299"),
    4: ("Żółty ser mazurski", "002450"),
    5: ("GĘŚ PIECZONA", "003999"),
    6: ("Sałatka jarzynowa", "000875"),
}

# An example line as the reader writes it: columns 0-139.
TEMPLATE = (
    "1 S 01 xx000001 CHLEB RAZOWY 500G        000450 x 200001 000000 000000 000000 00 00 1 0 "
    "00 2 0 05 12 000000 000000 00 03 59001234567890 00 1"
)
assert len(TEMPLATE) == 140

WAIT = 60  # the longest any one step may take, seconds


class Failure(Exception):
    pass


WORK = {"folder": None}  # the temporary folder, shown as WORK in the transcript


def step(text):
    if WORK["folder"]:
        text = text.replace(WORK["folder"], "WORK")
    print(text, flush=True)


def note(text):
    print("page_test: " + text, file=sys.stderr, flush=True)


def check(condition, message):
    if not condition:
        raise Failure(message)


# ---- PLU lines ----


def article_name(plu):
    return f"{PRODUCTS[(plu - 1) % len(PRODUCTS)]} {plu:02d}"


def price(plu, scale_index):
    return f"{(plu * 37 + scale_index * 1000) % 1000000:06d}"


def plu_line(address, plu, name, price_text):
    """One 140-column line, as the reader writes it for this scale."""
    line = bytearray(TEMPLATE.encode("ascii"))
    line[0:1] = address[0].encode()
    line[2:3] = address[1].encode()
    line[4:6] = f"{int(address[2]):02d}".encode()
    line[9:15] = f"{plu:06d}".encode()
    encoded = name.encode("cp1250")
    check(len(encoded) <= 24, f"the name {name!r} is longer than 24 characters")
    line[16:40] = encoded.ljust(24, b" ")
    line[41:47] = price_text.encode()
    return bytes(line)


def as_held(line, address):
    """The line as the emulator keeps it in its scales file: its own address, no millions, byte
    36 (column 48) 0."""
    held = bytearray(line)
    held[0:6] = f"{address[0]} {address[1]} 0{address[2]}".encode()
    held[7:9] = b"00"
    held[48:49] = b"0"
    return bytes(held)


def read_lines(path):
    """The 140-column lines of a file, whatever CRs end them."""
    lines = []
    for raw in Path(path).read_bytes().split(b"\n"):
        raw = raw.rstrip(b"\r")
        if raw:
            lines.append(raw)
    return lines


def held_records(path):
    """{address: {plu: line}} of an emulator's scales file."""
    scales = {}
    for line in read_lines(path):
        address = f"{chr(line[0])}{chr(line[2])}{int(line[4:6])}"
        scales.setdefault(address, {})[int(line[9:15])] = line[:140]
    return scales


def name_of(line):
    return line[16:40].decode("cp1250").rstrip(" ")


# ---- the server ----


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    def __init__(self, ktnet, emu, work):
        self.work = work
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}/"
        self.shop = work / "shop"
        self.scales = work / "scales.txt"
        self.backups = work / "backups"
        self.pid_file = work / "serve.pid"
        self.out = open(work / "serve.out", "wb")
        self.err = open(work / "serve.err", "wb")
        env = {k: v for k, v in os.environ.items() if not k.startswith("KTNET_")}
        env["HOME"] = str(work / "home")
        env["XDG_CONFIG_HOME"] = str(work / "home" / "config")
        env["XDG_STATE_HOME"] = str(work / "home" / "state")
        command = [
            emu, "--scales", str(self.scales), "--scale", "2:T:1",
            "--latency-us", str(LATENCY_US), "--pid-file", str(self.pid_file),
            "--log", str(work / "umockdev.log"), "--",
            ktnet, "serve", "--listen", f"127.0.0.1:{self.port}", "--shop", str(self.shop),
            "--store", str(work / "shop.db"), "--dir", str(self.backups),
            "--work", str(work / "serve"),
        ]
        self.process = subprocess.Popen(
            command, cwd=work, env=env, stdin=subprocess.DEVNULL, stdout=self.out,
            stderr=self.err, start_new_session=True)
        self.status = None

    def wait_until_answering(self):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise Failure(f"ktnet-emu ... ktnet serve ended with status "
                              f"{self.process.returncode} before answering")
            try:
                with urllib.request.urlopen(self.url + "api/session", timeout=2) as r:
                    if r.status == 200:
                        return
            except (urllib.error.URLError, ConnectionError, socket.timeout):
                pass
            time.sleep(0.1)
        raise Failure(f"the server did not answer at {self.url} within {WAIT} s")

    def stop(self):
        """Stops ktnet serve as a service is stopped (TERM); the emulator then saves the scales
        and ends. Returns the emulator's exit status."""
        if self.status is not None:
            return self.status
        try:
            pid = int(self.pid_file.read_text().strip())
            os.kill(pid, signal.SIGTERM)
        except (OSError, ValueError):
            pass
        try:
            self.status = self.process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            note("the server did not end on TERM; killing it")
            os.killpg(self.process.pid, signal.SIGKILL)
            self.status = self.process.wait()
        self.out.close()
        self.err.close()
        return self.status

    def said(self):
        return (self.work / "serve.err").read_text(errors="replace")


def write_shop(work):
    (work / "shop").write_text(
        "# the shop's scales\n" + "".join(f"{a} {n}\n" for a, n in SHOP), encoding="utf-8")
    (work / "fields").write_text("cena = c41_46\n", encoding="utf-8")
    original = {}
    text = b""
    for index, (address, _) in enumerate(SHOP):
        if address == EMPTY_SCALE:
            continue
        original[address] = {}
        for plu in range(1, RECORDS_EACH + 1):
            line = plu_line(address, plu, article_name(plu), price(plu, index))
            original[address][plu] = line
            text += line + b"\r\r\n"
    (work / "scales.txt").write_bytes(text)
    return original


def write_load_file(path):
    lines = {plu: plu_line("1S1", plu, name, p) for plu, (name, p) in LOADED.items()}
    path.write_bytes(b"".join(line + b"\r\r\n" for line in lines.values()))
    return lines


# ---- the browser ----


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
              "--window-size=1280,900", "--lang=en-US"):
        options.add_argument(a)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1280, "height": 900, "deviceScaleFactor": 1, "mobile": False})
    driver.set_script_timeout(WAIT)
    return driver


class Page:
    def __init__(self, driver, url, screenshots):
        self.d = driver
        self.url = url
        self.screenshots = screenshots

    def wait(self, condition, what, timeout=WAIT):
        """Waits for the condition; an error the page shows meanwhile fails at once."""
        def met(_):
            if self.js("const m = document.getElementById('message'); "
                       "return !m.hidden && m.classList.contains('error');"):
                raise Failure(f"waiting for {what}, the page says: {self.message()!r}")
            return condition()
        try:
            return WebDriverWait(self.d, timeout, poll_frequency=0.1).until(met)
        except TimeoutException:
            raise Failure(f"waited {timeout} s for {what}; the page says: {self.message()!r}")

    def js(self, script, *args):
        return self.d.execute_script(script, *args)

    def message(self):
        return self.js("const m = document.querySelector('#message .message-text'); "
                       "return m && !m.parentElement.hidden ? m.textContent : '';")

    def open(self, hash_route, page):
        self.d.get(self.url + hash_route)
        self.ready(page)

    def go(self, hash_route, page):
        self.js("location.hash = arguments[0];", hash_route)
        self.ready(page)

    def ready(self, page):
        self.wait(lambda: self.js("const m = document.getElementById('main'); return "
                                  "m.dataset.page === arguments[0] && m.dataset.ready === '1';",
                                  page), f"the {page} page")

    def get(self, path):
        """What the server answers the page's own session, as JSON."""
        answer = self.d.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch(arguments[0], {credentials: 'same-origin', cache: 'no-store'})"
            "  .then(r => r.text().then(t => done([r.status, t])))"
            "  .catch(e => done([0, String(e)]));", path)
        check(answer[0] == 200, f"GET {path} answered {answer[0]}: {answer[1]}")
        return json.loads(answer[1])

    def find(self, css):
        return self.d.find_element(By.CSS_SELECTOR, css)

    def shot(self, name):
        if self.screenshots:
            self.js("window.scrollTo(0, 0);")
            self.d.save_screenshot(str(Path(self.screenshots) / name))

    # -- jobs --

    def job_id(self):
        return self.js("const j = document.getElementById('job'); return j ? j.dataset.jobId || '' : '';")

    def job_state(self):
        return self.js("const s = document.getElementById('job-state'); return s ? s.dataset.state || '' : '';")

    def wait_job_end(self, before, what):
        """Waits for a job other than `before` to end on the jobs page; returns its id."""
        self.wait(lambda: self.job_id() not in ("", before) and self.job_state() != "running",
                  f"{what} to end")
        return self.job_id()

    def job_scales(self):
        return self.js(
            "return Array.from(document.querySelectorAll('#job-scales .job-scale')).map(r => ({"
            "  scale: r.dataset.scale, state: r.dataset.state, done: Number(r.dataset.done),"
            "  total: Number(r.dataset.total),"
            "  progress: r.querySelector('.progress-text').textContent,"
            "  bar: r.querySelector('progress').value,"
            "  result: r.querySelector('.scale-result').textContent}));")

    def choose_scales(self, form, scales):
        for box in self.d.find_elements(By.CSS_SELECTOR, f"input[name='{form}-scale']"):
            if box.is_selected() != (box.get_attribute("value") in scales):
                box.click()

    def grid_rows(self):
        """The grid's rows in the table, in order: with a few dozen articles, all it shows."""
        return self.js(
            "return Array.from(document.querySelectorAll('#articles tbody tr[data-plu]')).map("
            "  tr => ({plu: Number(tr.dataset.plu), name: tr.children[2].textContent,"
            "          unknown: tr.classList.contains('unknown')}));")

    def grid_shown(self):
        return int(self.js("return document.getElementById('articles').dataset.shown;"))


# ---- the scenarios ----


def scenario_overview(page, server):
    page.open("#/", "overview")
    rows = page.js(
        "return Array.from(document.querySelectorAll('#overview-table tbody tr')).map(tr => ["
        " tr.dataset.scale, tr.querySelector('td.name').textContent,"
        " tr.querySelector('td.address').textContent]);")
    check([r[0] for r in rows] == [a for a, _ in SHOP],
          f"the overview lists the scales {[r[0] for r in rows]}, not those of the shop file")
    for (address, name), row in zip(SHOP, rows):
        check(row[1] == name, f"{address} is shown as {row[1]!r} "
              f"({row[1].encode('unicode_escape')}), not {name!r}")
        check(row[2] == address, f"the address of {name} is shown as {row[2]!r}")
    served = {s["address"]: s["name"] for s in page.get("/api/overview")["scales"]}
    check(served == dict(SHOP), f"the server names the scales {served}")
    step("overview: the six scales with their names, letter for letter: "
         + ", ".join(n for _, n in SHOP))

    page.find("#scan-button").click()
    page.wait(lambda: page.js(
        "return Array.from(document.querySelectorAll('#overview-table tbody tr')).every("
        " tr => !tr.children[2].classList.contains('none'));"),
        "every scale's last contact after the scan")
    contacts = {s["address"]: s["last_contact"] for s in page.get("/api/overview")["scales"]}
    check(all(contacts.values()), f"after the scan the store has no contact with {contacts}")
    step("overview: Scan ran; every scale now shows its last contact")
    page.shot("overview.png")


def scenario_backup(page, server, original):
    page.go("#/jobs", "jobs")
    before = page.job_id()
    page.choose_scales("backup", ["1S1", "1S2"])
    page.find("#backup-plu").send_keys(f"1-{BACKUP_PLUS}")
    page.find("#backup-button").click()
    job = page.wait_job_end(before, "the backup of 1S1 and 1S2")
    check(page.job_state() == "done", f"the backup ended {page.job_state()!r}: {page.message()!r}")
    scales = page.job_scales()
    check([s["scale"] for s in scales] == ["1S1", "1S2"], f"the job shows the scales {scales}")
    for s in scales:
        check(s["result"] == "ok" and s["state"] == "done",
              f"{s['scale']} ended {s['state']} {s['result']!r}")
        check(s["done"] == BACKUP_PLUS and s["total"] == BACKUP_PLUS and s["bar"] == 100,
              f"{s['scale']}'s progress shows {s}")
        check(s["progress"].startswith(f"{BACKUP_PLUS} of {BACKUP_PLUS} records (100%)"),
              f"{s['scale']}'s progress reads {s['progress']!r}")
    for address in ("1S1", "1S2"):
        files = sorted(server.backups.glob(f"{address}-*.txt"))
        listed = sorted(p.name for p in server.backups.iterdir())
        check(len(files) == 1, f"the backups folder holds {listed}, not one file of {address}")
        path = files[0]
        today = path.stem[len(address) + 1:]  # the backup's date
        written = {int(line[9:15]): line for line in read_lines(path)}
        for plu, line in original[address].items():
            check(written.get(plu) == line, f"{path.name} holds PLU {plu} as "
                  f"{written.get(plu)!r}, not as the scale does: {line!r}")
        check(path.read_bytes().count(b"\r\r\n") == len(written), f"{path.name}'s lines do not "
              "all end CR CR LF")
    updates = page.js("return document.body.dataset.updates || '';")
    check(updates == "events", f"the page follows the jobs by {updates!r}, not by the server's events")
    step(f"jobs: backup of 1S1 and 1S2 (job {job}) showed {BACKUP_PLUS} of {BACKUP_PLUS} "
         "records, 100%, \"ok\" for each, following the server's events; both files hold the "
         "scales' records byte for byte")
    return today


def scenario_load(page, server):
    # The load must start in a later second than the backup's snapshot, whose time the
    # restore's plan compares with it.
    time.sleep(1.1)
    page.go("#/jobs", "jobs")
    upload = server.work / "nowe-ceny.txt"
    page.find("#upload-file").send_keys(str(upload))
    page.wait(lambda: page.js("const s = document.getElementById('upload-summary'); "
                              "return s ? s.textContent : '';"), "the upload's answer")
    summary = page.find("#upload-summary").text
    check("ready to load" in summary and "plu file" in summary,
          f"the upload says {summary!r} (problems: {page.message()!r})")
    page.wait(lambda: page.js("const o = document.getElementById('load-file').selectedOptions[0];"
                              "return o ? o.dataset.name : '';") == upload.name,
              f"{upload.name} to be the file chosen for the load")
    files = page.get("/api/files")["uploads"]
    check(any(u["name"] == upload.name and u["kind"] == "plu file" for u in files),
          f"the server lists the uploads {files}")
    step(f"jobs: uploaded {upload.name}: a PLU file, no problems")

    page.choose_scales("load", ["1S1", EMPTY_SCALE])
    verify = page.find("#load-verify")
    if not verify.is_selected():
        verify.click()
    before = page.job_id()
    page.find("#load-plan-button").click()
    page.wait(lambda: page.js("const p = document.getElementById('plan'); "
                              "return !p.hidden && p.dataset.kind === 'load';"), "the load's plan")
    plan = [li.text for li in page.d.find_elements(By.CSS_SELECTOR, "#plan-messages li")]
    check(plan and any("1S1" in m for m in plan) and any(EMPTY_SCALE in m for m in plan),
          f"the plan does not name both scales: {plan}")
    check(page.job_id() == before, "planning started a job")
    step("jobs: the load's plan is shown, nothing sent yet: " + " | ".join(plan))

    page.find("#plan-send").click()
    job = page.wait_job_end(before, "the load")
    scales = page.job_scales()
    check(page.job_state() == "done", f"the load ended {page.job_state()!r}: {scales}")
    for s in scales:
        check(s["result"] == "ok" and s["done"] == len(LOADED),
              f"{s['scale']}: {s['done']} of {s['total']}, {s['result']!r}")
    command = page.find("#job-command").text
    check("--verify" in command, f"the load ran without --verify: {command}")
    step(f"jobs: sent (job {job}): {len(LOADED)} of {len(LOADED)} records, verified, \"ok\" "
         f"on 1S1 and {EMPTY_SCALE}")
    return job


def scenario_scale_page(page, original, today):
    page.go("#/", "overview")
    page.find("#overview-table tr[data-scale='1S1'] td.name a").click()
    page.ready("scale")
    check(page.find("#scale-name").text == "wędliny", "the scale page's title is "
          f"{page.find('#scale-name').text!r}")
    expected = {plu: name_of(line) for plu, line in original["1S1"].items()}
    expected.update({plu: name for plu, (name, _) in LOADED.items()})
    rows = page.grid_rows()
    shown = {r["plu"]: r["name"] for r in rows}
    for plu, name in expected.items():
        check(shown.get(plu) == name, f"PLU {plu} is shown as {shown.get(plu)!r}, not {name!r}")
    check(all(shown[p] == "" for p in shown if p not in expected),
          "PLUs the scale does not hold are shown with names")
    check(not any(r["unknown"] for r in rows), "articles are marked unknown after a verified load")
    served = {a["plu"]: a["name"] for a in page.get("/api/scale?address=1S1")["articles"]}
    check(all(served.get(p) == n for p, n in expected.items()), "the store names 1S1's articles "
          f"otherwise: {served}")
    header = page.find("#articles th[data-column='c41_46']").text
    check(header == "cena", f"the column c41_46 is headed {header!r}, not as the fields file names it")
    step(f"scale 1S1: the grid shows its {len(expected)} articles with their Polish names "
         f"(e.g. {expected[4]!r}, {expected[6]!r}); c41_46 headed \"cena\"")

    search = page.find("#article-search")
    search.send_keys("łosoś")
    want = sorted(p for p, n in expected.items() if "łosoś" in n.lower())
    page.wait(lambda: sorted(r["plu"] for r in page.grid_rows()) == want,
              f"the search for \"łosoś\" to show PLUs {want}")
    check(page.grid_shown() == len(want), "the grid counts otherwise than it shows")
    search.clear()
    search.send_keys(" ")  # an input event with nothing to look for: every row again
    page.wait(lambda: len(page.grid_rows()) == len(rows), "every row after the search")
    page.find("#articles th[data-column='plu']").click()  # sorted by PLU already: now downwards
    first = page.grid_rows()[0]["plu"]
    check(first == max(shown), f"sorted downwards by PLU the first row is {first}")
    page.find("#articles th[data-column='plu']").click()
    first = page.grid_rows()[0]["plu"]
    check(first == min(shown), f"sorted upwards by PLU the first row is {first}")
    step(f"scale 1S1: searching \"łosoś\" shows PLUs {want} (ŁOSOŚ and Łosoś alike); "
         "clicks on PLU sort downwards, then upwards")

    Select(page.find("#compare-snapshot")).select_by_index(0)
    page.find("#compare-button").click()
    page.wait(lambda: page.js("return !!document.getElementById('compare-summary');"),
              "the comparison with the backup")
    differing = page.js(
        "return Array.from(document.querySelectorAll('#compare-table tbody tr')).map(tr => ["
        " tr.dataset.plu, tr.dataset.field, tr.querySelector('.scale-value').textContent,"
        " tr.querySelector('.snapshot-value').textContent,"
        " tr.querySelector('.scale-value').classList.contains('differs')]);")
    prices = {int(p): (now, then, marked) for p, f, now, then, marked in differing if f == "c41_46"}
    check(sorted({int(r[0]) for r in differing}) == sorted(LOADED),
          f"the comparison finds PLUs {sorted({int(r[0]) for r in differing})} differing")
    for plu, (_, new_price) in LOADED.items():
        old_price = original["1S1"][plu][41:47].decode()
        check(prices.get(plu) == (new_price, old_price, True), f"PLU {plu}'s price compares as "
              f"{prices.get(plu)}, not {new_price} against the backup's {old_price}, marked")
    marked = page.js("return Array.from(document.querySelectorAll('#articles td.differs')).map("
                     "td => td.parentElement.dataset.plu);")
    check(sorted({int(p) for p in marked}) == sorted(LOADED),
          f"the grid marks the cells of PLUs {sorted(set(marked))}")
    step(f"scale 1S1: compared with the backup of {today}: PLUs {sorted(LOADED)} differ, "
         "their prices marked in both tables")
    page.shot("scale.png")


def scenario_restore(page, server, original, today):
    page.go("#/jobs", "jobs")
    Select(page.find("#restore-scale")).select_by_value("1S1")
    backup = f"1S1-{today}.txt"
    Select(page.find("#restore-backup")).select_by_value(backup)
    before = page.job_id()
    page.find("#restore-plan-button").click()
    page.wait(lambda: page.js("const p = document.getElementById('plan'); "
                              "return !p.hidden && p.dataset.kind === 'restore';"),
              "the restore's plan")
    plan = [li.text for li in page.d.find_elements(By.CSS_SELECTOR, "#plan-messages li")]
    stored_loads = [j for j in page.get("/api/history?scale=1S1")["jobs"] if j["kind"] == "load"]
    check(stored_loads, "the store knows no load of 1S1")
    load = stored_loads[0]["id"]
    undoes = [m for m in plan if "undoes the load" in m]
    check(len(undoes) == 1 and f"(job {load}:" in undoes[0],
          f"the plan does not say that it undoes the load (job {load}): {plan}")
    step(f"jobs: restore of 1S1 from {backup} planned; it warns: {undoes[0]}")

    page.find("#plan-send").click()
    job = page.wait_job_end(before, "the restore")
    scales = page.job_scales()
    check(page.job_state() == "done" and [s["result"] for s in scales] == ["ok"],
          f"the restore ended {page.job_state()!r}: {scales}")
    step(f"jobs: restore sent (job {job}), \"ok\"")

    page.go("#/history?scale=1S1&plu=3", "history")
    check(page.find("#history-scale").get_attribute("value") == "1S1", "the filter is not shown")
    changes = page.js(
        "return Array.from(document.querySelectorAll('#history-changes tbody tr')).map(tr => ["
        " tr.dataset.scale, tr.dataset.plu, tr.querySelector('.cause').textContent,"
        " Array.from(tr.querySelectorAll('li[data-field=\"c41_46\"]')).map("
        "  li => li.querySelector('.old').textContent + '>' + li.querySelector('.new').textContent)"
        "]);")
    check(changes and all(c[0] == "1S1" and c[1] == "3" for c in changes),
          f"the history filtered for 1S1 PLU 3 shows {changes}")
    old, new = original["1S1"][3][41:47].decode(), LOADED[3][1]
    by_cause = {c[2].split(" ")[0]: c[3] for c in changes}
    check(by_cause.get("load") == [f"{old}>{new}"] and by_cause.get("restore") == [f"{new}>{old}"],
          f"the history of 1S1 PLU 3 does not show the load's price {old} to {new} and the "
          f"restore's back: {changes}")
    step(f"history: 1S1 PLU 3 shows {len(changes)} changes: " + "; ".join(
        f"{c[2]} {' '.join(c[3])}" for c in changes))
    page.shot("history.png")


def scenario_stop(page, server):
    page.go("#/jobs", "jobs")
    before = page.job_id()
    page.choose_scales("backup", ["1S3"])
    plu = page.find("#backup-plu")
    plu.clear()
    plu.send_keys(f"1-{LONG_BACKUP_PLUS}")
    page.find("#backup-button").click()
    page.wait(lambda: page.job_id() not in ("", before) and any(
        s["done"] > 0 for s in page.job_scales()), "the long backup's first records")
    page.find("#stop-button").click()
    page.wait(lambda: page.job_state() != "running", "the stopped backup to end")
    state_text = page.find("#job-state").text
    scales = page.job_scales()
    check(page.job_state() == "stopped" and "Stopped" in state_text,
          f"after Stop the job is {page.job_state()!r}: {state_text!r}")
    s = scales[0]
    check(s["state"] == "stopped" and 0 < s["done"] < LONG_BACKUP_PLUS,
          f"the stopped scale shows {s}")
    check(not page.find("#stop-button").is_displayed(), "Stop is still offered after the end")
    job = page.get("/api/job")["job"]
    check(job["state"] == "stopped" and job["scales"][0]["done"] == s["done"],
          f"the server tells of the job {job}")
    known = sorted(a["plu"] for a in page.get("/api/scale?address=1S3")["articles"])
    check(known == list(range(1, s["done"] + 1)), f"the stopped backup read {s['done']} records, "
          f"and the store knows of 1S3 the PLUs {known[:3]}...{known[-3:]} ({len(known)})")
    written = sorted(p.name for p in server.backups.glob("1S3-*"))
    check(not written, f"a stopped backup left the files {written}")
    step(f"jobs: backup of 1S3, PLUs 1-{LONG_BACKUP_PLUS} (job {page.job_id()}), stopped "
         f"after {s['done']} records: the page says {state_text!r}; the store knows exactly PLUs "
         f"1-{s['done']} of it, and no backup file was written")
    page.shot("jobs.png")


def check_scales_memory(server, original, loaded_lines):
    """After the server's end the emulator has saved what each scale holds."""
    held = held_records(server.scales)
    loaded = held.get(EMPTY_SCALE, {})
    check(sorted(loaded) == sorted(loaded_lines),
          f"{EMPTY_SCALE} holds PLUs {sorted(loaded)}, not exactly the file's {sorted(loaded_lines)}")
    for plu, line in loaded_lines.items():
        want = as_held(line, EMPTY_SCALE)
        check(loaded[plu] == want, f"{EMPTY_SCALE} holds PLU {plu} as {loaded[plu]!r}, "
              f"not as the file has it: {want!r}")
    restored = held.get("1S1", {})
    for plu, line in original["1S1"].items():
        want = as_held(line, "1S1")
        check(restored.get(plu) == want, f"1S1 holds PLU {plu} as {restored.get(plu)!r} after "
              f"the restore, not as before the load: {want!r}")
    step(f"scales: {EMPTY_SCALE} holds exactly the {len(loaded_lines)} records of the file, byte "
         f"for byte; 1S1 holds its {len(original['1S1'])} records as before the load")


def main():
    parser = argparse.ArgumentParser(description="The shop's page in a real browser.")
    parser.add_argument("--ktnet", required=True, help="the ktnet program")
    parser.add_argument("--emu", required=True, help="the ktnet-emu program")
    parser.add_argument("--screenshots", help="a folder for one PNG per page")
    args = parser.parse_args()
    ktnet = str(Path(args.ktnet).resolve())
    emu = str(Path(args.emu).resolve())
    for program in (ktnet, emu):
        if not os.access(program, os.X_OK):
            note(f"{program} is not a program")
            return 2
    if args.screenshots:
        Path(args.screenshots).mkdir(parents=True, exist_ok=True)

    with tempfile.TemporaryDirectory(prefix="ktnet-page-") as folder:
        work = Path(folder)
        WORK["folder"] = folder
        original = write_shop(work)
        loaded_lines = write_load_file(work / "nowe-ceny.txt")
        server = Server(ktnet, emu, work)
        driver = None
        failed = None
        try:
            server.wait_until_answering()
            step(f"server: ktnet serve under ktnet-emu answers at {server.url}")
            driver = browser()
            page = Page(driver, server.url, args.screenshots)
            scenario_overview(page, server)
            today = scenario_backup(page, server, original)
            scenario_load(page, server)
            scenario_scale_page(page, original, today)
            scenario_restore(page, server, original, today)
            scenario_stop(page, server)
            status = server.stop()
            check(status in (0, 128 + signal.SIGTERM), f"ktnet-emu ... ktnet serve ended with "
                  f"status {status}")
            step(f"server: stopped with TERM (status {status}); the emulator saved the scales")
            check_scales_memory(server, original, loaded_lines)
        except Failure as e:
            failed = str(e)
        except Exception as e:  # the browser or the server broke down
            failed = f"{type(e).__name__}: {e}"
        finally:
            if driver is not None:
                if failed and args.screenshots:
                    try:
                        driver.save_screenshot(str(Path(args.screenshots) / "failure.png"))
                    except Exception:
                        pass
                driver.quit()
            status = server.stop()
        if failed:
            note("FAILED: " + failed)
            said = server.said().strip()
            if said:
                note(f"the server said (status {status}):\n" + said[-4000:])
            return 1
    step("all scenarios passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
