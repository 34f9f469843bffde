#!/usr/bin/env python3
"""Checks halcyx-sim's HTML report in a real browser.

  check_page.py run SIM ALARM SCENARIO WORKDIR
      Runs SCENARIO once with --json and --html, renders the page in headless
      Chromium and checks from the rendered DOM that every object has its
      row, that the status and the colour of every row at chosen offsets are
      those of the --json log, that incidents and acknowledgements are marked
      where they happened, and that the page loads nothing from anywhere.

  check_page.py demo SIM ALARM WORKDIR
      The same checks on the page of the built-in demonstration (the run
      `make demo` shows, about a minute).

  check_page.py thousand SIM ALARM WORKDIR
      Generates a scenario with 1,000 objects, runs it, and checks that the
      page stays small, renders quickly and has every row.

Chromium must be installed (scripts/bootstrap.sh installs it); without it
the check fails, it does not skip.
"""

import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import time

BROWSER_NAMES = ("chromium-headless-shell", "chromium", "chromium-browser")

# The colour each status is drawn in, by the status it varies: downtime and
# explained variants keep the colour of the plain status.
PALETTE = {
    "NA": "rgb(228, 228, 228)",
    "GOOD": "rgb(63, 163, 77)",
    "UNINITIALIZED": "rgb(169, 182, 196)",
    "UNKNOWN": "rgb(79, 134, 198)",
    "WARN": "rgb(239, 178, 31)",
    "ALERT": "rgb(214, 69, 69)",
}

# Appended to a copy of the page for the render only: after loading it
# writes down how long loading and laying out the page took, each status
# span's colour as the browser computed it, and every resource the page
# fetched.
PROBE = """<script>
window.addEventListener('load', () => {
  document.body.getBoundingClientRect();
  document.body.setAttribute('data-load-ms', performance.now().toFixed(0));
  for (const r of document.querySelectorAll('rect.seg'))
    r.setAttribute('data-computed-fill', getComputedStyle(r).fill);
  const p = document.createElement('pre');
  p.id = 'probe-resources';
  p.textContent = JSON.stringify(performance.getEntriesByType('resource').map(e => e.name));
  document.body.appendChild(p);
});
</script>"""


class Failure(Exception):
    pass


def fail(text):
    raise Failure(text)


def find_browser():
    for name in BROWSER_NAMES:
        path = shutil.which(name)
        if path:
            return path
    fail("headless Chromium is not installed (no " + " or ".join(BROWSER_NAMES) +
         " on PATH); scripts/bootstrap.sh installs chromium-headless-shell")


def run_sim(sim, alarm, scenario, page, timeout):
    """Runs SCENARIO (the built-in demonstration when None)."""
    started = time.monotonic()
    result = subprocess.run(
        [sim, "--json", "--alarm", alarm, "--html", page] + ([scenario] if scenario else []),
        capture_output=True, text=True, timeout=timeout)
    if result.returncode != 0:
        fail(f"halcyx-sim exited with {result.returncode}: {result.stderr.strip()}")
    records = [json.loads(line) for line in result.stdout.splitlines() if line.strip()]
    return records, time.monotonic() - started


def render(browser, page, workdir):
    """The DOM after the page (with the probe) loaded, without network."""
    with open(page, encoding="utf-8") as f:
        text = f.read()
    probed = os.path.join(workdir, "probed.html")
    with open(probed, "w", encoding="utf-8") as f:
        f.write(text.replace("</body>", PROBE + "</body>", 1))
    started = time.monotonic()
    result = subprocess.run(
        [browser, "--headless", "--disable-gpu", "--no-sandbox", "--no-first-run",
         "--user-data-dir=" + os.path.join(workdir, "profile"),
         "--proxy-server=socks5://127.0.0.1:9", "--host-resolver-rules=MAP * ~NOTFOUND",
         "--dump-dom", "file://" + os.path.abspath(probed)],
        capture_output=True, text=True, timeout=60)
    seconds = time.monotonic() - started
    if result.returncode != 0 or "<body" not in result.stdout:
        fail(f"{browser} could not render the page (exit {result.returncode}): "
             f"{result.stderr.strip()[-2000:]}")
    return result.stdout, seconds


class Dom(html.parser.HTMLParser):
    """What the checks read from the rendered page."""

    def __init__(self):
        super().__init__()
        self.rows = []        # (path, id, node)
        self.spans = {}       # path -> [(from, to, status, fill, overlays)]
        self.marks = {}       # path -> [(kind, t, title)]; "" for the scenario lane
        self.resources = None
        self.load_ms = None
        self.overlays = []    # classes of the overlay rects, in order
        self._node = None
        self._row = None
        self._mark = None
        self._title = None
        self._pre = False
        self._text = ""

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        cls = (a.get("class") or "").split()
        if tag == "body":
            self.load_ms = float(a["data-load-ms"]) if "data-load-ms" in a else None
        elif tag == "section" and "node" in cls:
            self._node = a.get("data-node")
        elif tag == "g" and "row" in cls:
            self._row = a["data-path"]
            self.rows.append((a["data-path"], a.get("data-id"), self._node))
        elif tag == "rect" and "seg" in cls:
            self.spans.setdefault(self._row, []).append(
                [float(a["data-from"]), float(a["data-to"]), a["data-status"],
                 a.get("data-computed-fill"), []])
        elif tag == "rect" and ("dt" in cls or "ex" in cls) and self._row is not None:
            self.spans[self._row][-1][4].append("dt" if "dt" in cls else "ex")
        elif tag == "g" and "mark" in cls:
            self._mark = [a["data-kind"], float(a["data-t"]), ""]
            self.marks.setdefault(self._row or "", []).append(self._mark)
        elif tag == "title" and self._mark is not None:
            self._title = ""
        elif tag == "pre" and a.get("id") == "probe-resources":
            self._pre = True
            self._text = ""

    def handle_endtag(self, tag):
        if tag == "g" and self._mark is not None:
            self._mark = None
        elif tag == "g":
            self._row = None
        elif tag == "title" and self._title is not None:
            self._mark[2] = self._title
            self._title = None
        elif tag == "pre" and self._pre:
            self.resources = json.loads(self._text)
            self._pre = False

    def handle_data(self, data):
        if self._title is not None:
            self._title += data
        if self._pre:
            self._text += data


def check_self_contained(text):
    """Nothing in the page points outside it."""
    for pattern, what in [
            (r"(?i)<[^>]*\s(src|href|srcset|action|xlink:href|background)\s*=",
             "a src/href attribute"),
            (r"(?i)\b(?:https?|ftp|file):/|[\s\"'=(]//[a-z0-9]", "an address"),
            (r"(?i)url\(\s*['\"]?(?!#)", "a url() that is not a fragment"),
            (r"(?i)@import", "an @import"),
            (r"(?i)<(script|link|img|iframe|object|embed|video|audio)\b", "an element that loads"),
    ]:
        m = re.search(pattern, text)
        if m:
            fail(f"the page is not self-contained: {what} at ...{text[max(0, m.start() - 60):m.end() + 60]}...")


def expected_timelines(records):
    """Per object id: (path at the end, [(t, status name)] starting at 0)."""
    final = next(r for r in records if r["event"] == "final")
    paths = {o["id"]: o["path"] for o in final["statuses"]}
    timelines = {}
    for r in records:
        if r["event"] != "status":
            continue
        line = timelines.setdefault(r["id"], [(0.0, r["old_name"])])
        line.append((r["t"], r["new_name"]))
        paths.setdefault(r["id"], r["path"])
    for o in final["statuses"]:
        timelines.setdefault(o["id"], [(0.0, o["name"])])
    return paths, timelines, final


def status_at(line, t):
    status = line[0][1]
    for at, name in line:
        if at <= t:
            status = name
    return status


# The statuses each page must show at some checked offset, so that every
# colour and overlay is compared at least once. The demonstration starts from
# a tree that is already reporting, so it never shows UNINITIALIZED for long.
SHORT_RUN_STATUSES = ("GOOD", "ALERT", "WARN", "UNINITIALIZED", "GOOD (downtime)",
                      "ALERT (downtime)", "ALERT (explained)", "UNKNOWN (explained)")
DEMO_STATUSES = ("GOOD", "ALERT", "WARN", "GOOD (downtime)", "ALERT (downtime)",
                 "ALERT (explained)", "UNKNOWN (explained)", "WARN (explained)")


def check_run(sim, alarm, scenario, workdir, needed_statuses):
    browser = find_browser()
    page = os.path.join(workdir, "run.html")
    records, _ = run_sim(sim, alarm, scenario, page, timeout=150)
    with open(page, encoding="utf-8") as f:
        text = f.read()
    check_self_contained(text)
    dom_text, seconds = render(browser, page, workdir)
    dom = Dom()
    dom.feed(dom_text)

    if dom.resources is None:
        fail("the probe did not run: the rendered DOM has no list of loaded resources")
    if dom.resources:
        fail(f"the page loaded resources: {dom.resources}")

    paths, timelines, final = expected_timelines(records)
    row_paths = [p for p, _, _ in dom.rows]
    expected_paths = sorted(paths.values())
    if sorted(row_paths) != expected_paths:
        fail(f"rows {sorted(row_paths)} are not the objects {expected_paths}")
    for path, _, node in dom.rows:
        if not (path == node or path.startswith(node + " / ") or "/" not in path):
            fail(f"row {path} is grouped under {node}")

    # Offsets to look at: halfway between any two moments something changed,
    # so that rounding of the offsets cannot matter.
    moments = sorted({0.0, final["t"]} | {t for line in timelines.values() for t, _ in line})
    offsets = [(a + b) / 2 for a, b in zip(moments, moments[1:]) if b - a > 0.02]
    if len(offsets) < 5:
        fail(f"the run changed too little to check: offsets {offsets}")
    checked = 0
    seen = set()
    for oid, line in timelines.items():
        path = paths[oid]
        spans = dom.spans.get(path, [])
        for t in offsets:
            want = status_at(line, t)
            hits = [s for s in spans if s[0] <= t < s[1]]
            if len(hits) != 1:
                fail(f"{path} at {t:.3f} s: {len(hits)} spans in the page, expected one ({want})")
            start, end, status, fill, overlays = hits[0]
            if status != want:
                fail(f"{path} at {t:.3f} s: the page shows {status}, the run says {want}")
            colour = PALETTE.get(want.split(" ")[0])
            if fill != colour:
                fail(f"{path} at {t:.3f} s: {want} is drawn in {fill}, expected {colour}")
            marks = (["dt"] if "(downtime)" in want else []) + (["ex"] if "(explained)" in want else [])
            if overlays != marks:
                fail(f"{path} at {t:.3f} s: {want} has overlays {overlays}, expected {marks}")
            seen.add(want)
            checked += 1
    for needed in needed_statuses:
        if needed not in seen:
            fail(f"the scenario never showed {needed} at a checked offset; seen {sorted(seen)}")

    # Incidents and user actions on the row of their object, at their time.
    for r in (r for r in records if r["event"] == "status"):
        marks = dom.marks.get(paths[r["id"]], [])
        if r["incident"] and not any(k == "incident" and abs(t - r["t"]) < 0.002 and
                                     r["incident"] in title for k, t, title in marks):
            fail(f"no incident mark for {r['path']} at {r['t']}: {r['incident']}")
        if r["user"] and not any(k == (r["verb"] or "user") and r["user"] in title and
                                 r["comment"] in title for k, t, title in marks):
            fail(f"no {r['verb']} mark by {r['user']} on {r['path']}")
    lane = " ".join(title for _, _, title in dom.marks.get("", []))
    for r in (r for r in records if r["event"] in ("note", "action")):
        if r["text"] not in lane:
            fail(f"the scenario lane lacks the {r['event']} \"{r['text']}\"")

    print(f"OK: {len(dom.rows)} rows, {checked} status checks at {len(offsets)} offsets, "
          f"no resources loaded; page {len(text)} bytes, rendered in {seconds:.2f} s")


def thousand_scenario(path):
    """1,000 objects with a status: 100 nodes of 9 checks each."""
    nodes = []
    for n in range(100):
        nodes.append({"label": f"host{n:03d}", "groups": [
            {"label": "Svc", "checks": [{"label": f"check{c}"} for c in range(9)]}]})
    timeline = [{"at": 1, "do": "states",
                 "states": {f"DC/host{n:03d}/Svc/check{n % 9}": "alert" for n in range(0, 100, 3)}},
                {"at": 2, "do": "states",
                 "states": {f"DC/host{n:03d}/Svc/check{n % 9}": "good" for n in range(0, 100, 6)}},
                {"at": 3, "do": "end"}]
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"title": "1,000 objects", "tree": {
            "label": "Big", "domains": [{"label": "DC", "nodes": nodes}]},
            "timeline": timeline}, f)


def check_thousand(sim, alarm, workdir):
    browser = find_browser()
    scenario = os.path.join(workdir, "thousand.json")
    thousand_scenario(scenario)
    page = os.path.join(workdir, "thousand.html")
    _, run_seconds = run_sim(sim, alarm, scenario, page, timeout=150)
    size = os.path.getsize(page)
    dom_text, seconds = render(browser, page, workdir)
    dom = Dom()
    dom.feed(dom_text)
    if len(dom.rows) != 1000 or len({p for p, _, _ in dom.rows}) != 1000:
        fail(f"{len(dom.rows)} rows for 1,000 objects")
    if len({n for _, _, n in dom.rows}) != 100:
        fail("the rows are not grouped by their 100 nodes")
    if size > 3_000_000:
        fail(f"the page of 1,000 objects is {size} bytes")
    # The browser's own clock, from navigation to the page laid out; the
    # bound leaves room for a machine busy with other tests.
    if dom.load_ms is None or dom.load_ms > 3000:
        fail(f"loading the page of 1,000 objects took {dom.load_ms} ms")
    print(f"OK: 1,000 objects: page {size} bytes, loaded and laid out in {dom.load_ms:.0f} ms "
          f"({seconds:.2f} s with the browser's start); the run took {run_seconds:.1f} s")


def main(argv):
    try:
        if len(argv) == 6 and argv[1] == "run":
            os.makedirs(argv[5], exist_ok=True)
            check_run(argv[2], argv[3], argv[4], argv[5], SHORT_RUN_STATUSES)
        elif len(argv) == 5 and argv[1] == "demo":
            os.makedirs(argv[4], exist_ok=True)
            check_run(argv[2], argv[3], None, argv[4], DEMO_STATUSES)
        elif len(argv) == 5 and argv[1] == "thousand":
            os.makedirs(argv[4], exist_ok=True)
            check_thousand(argv[2], argv[3], argv[4])
        else:
            print(__doc__, file=sys.stderr)
            return 2
    except Failure as e:
        print(f"FAILED: {e}", file=sys.stderr)
        return 1
    except subprocess.TimeoutExpired as e:
        print(f"FAILED: {e.cmd[0]} did not finish within {e.timeout} s", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
