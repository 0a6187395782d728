#!/usr/bin/env python3
"""recovery-sim's --html pages as a reader's browser shows them, in Debian's headless Chromium.

Pages are made from a successful recovery, a failing part and a power cut, each with its JSON
report, and from a small power-cut survey (its marks per result and its rows of cuts against the
survey's JSON). Each page is opened once, with every network fetch sent to a dead proxy and an
unresolvable host, and from that run:
  - the DOM Chromium built (--dump-dom) holds 512 map cells whose counts per state equal the
    report's flash.map, every beep of the report in order, the outcome, and a timeline phase for
    each 64 KiB block the module started;
  - Chromium's network log shows that the page asked for nothing, and its log holds no console
    message (an error in the markup or in an SVG attribute is logged as one);
  - a 1280x900 screenshot is taken.
Then a wrapper page of the test's own (the pages themselves have no script) shows each page in a
1280x900 frame and writes into its DOM the frame's scrollWidth against its clientWidth (wider:
the page does not fit the window) and, drawn on a canvas, how many pixels of each screenshot are
not white and how many colours it has (a blank page has none). A control page known to be too
wide must be caught by the same measure.
Usage: check_pages.py RECOVERY_SIM [CHROMIUM]. Exit 77 (skipped) when Chromium is missing.
"""
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

WIDTH, HEIGHT = 1280, 900
CASES = [
    ("success", [], 0),
    ("failing-part", ["--part", "SST 25VF016B", "--initial-protection", "power-on"], 1),
    ("power-cut", ["--fault", "power-cut@chunk:100:erase"], 1),
]
# Eight cuts spread over the recovery, with a 1 MiB boot block so that half fall inside the brick window.
SURVEY = ("power-cut-survey", ["--boot-block", "FFF00000-FFFFFFFF", "--power-cut-survey", "--cuts", "8",
                               "--spread-only"], 0)
CONTROL = "too-wide"
TOO_WIDE = '<!DOCTYPE html><html><body><div style="width:2000px;height:10px"></div></body></html>'
WRAPPER_HEAD = '<!DOCTYPE html><html><body style="margin:0">\n'
FRAME = '<iframe id="{name}" src="{name}.html" style="width:%dpx;height:%dpx;border:0"></iframe>\n' % (WIDTH, HEIGHT)
SHOT = '<img id="{name}-shot" src="{name}.png">\n'
WRAPPER_SCRIPT = """<script>
function put(id, text) {
  var o = document.createElement('output'); o.id = id; o.textContent = text; document.body.appendChild(o);
}
window.onload = function () {
  NAMES.forEach(function (name) {
    var d = document.getElementById(name).contentDocument;
    put(name + '-width', d ? d.documentElement.scrollWidth + ' ' + d.documentElement.clientWidth : 'none');
    var img = document.getElementById(name + '-shot');
    if (!img) return;
    var c = document.createElement('canvas'), g = c.getContext('2d');
    c.width = img.naturalWidth; c.height = img.naturalHeight; g.drawImage(img, 0, 0);
    var px = g.getImageData(0, 0, c.width, c.height).data, inked = 0, colours = new Set();
    for (var i = 0; i < px.length; i += 4) {
      if (px[i] < 250 || px[i + 1] < 250 || px[i + 2] < 250) inked++;
      colours.add((px[i] << 16) | (px[i + 1] << 8) | px[i + 2]);
    }
    put(name + '-shot', c.width + ' ' + c.height + ' ' + inked + ' ' + colours.size);
  });
};
</script></body></html>"""

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def chromium(browser, tmp, name, args, url):
    """Runs the headless shell offline; returns stdout, its log lines and the URLs it fetched."""
    netlog = os.path.join(tmp, name + ".netlog.json")
    cmd = [browser, "--no-sandbox", "--disable-gpu", "--no-first-run",
           "--proxy-server=127.0.0.1:9", "--proxy-bypass-list=<-loopback>",
           "--host-resolver-rules=MAP * ~NOTFOUND", "--enable-logging=stderr", "--v=0",
           "--log-net-log=" + netlog, f"--window-size={WIDTH},{HEIGHT}"] + args + [url]
    run = subprocess.run(cmd, capture_output=True, text=True, timeout=60)
    check(run.returncode == 0, f"{name}: chromium exited {run.returncode}: {run.stderr[-500:]}")
    with open(netlog) as f:
        log = json.load(f)
    fetched = sorted({e["params"]["url"] for e in log["events"] if "url" in e.get("params", {})})
    return run.stdout, run.stderr.splitlines(), fetched


class PageDom(html.parser.HTMLParser):
    """What the checks need from a page: map cells, beep rows, the verdict."""

    def __init__(self):
        super().__init__()
        self.cells, self.beeps, self.outcome, self.verdict, self.blocks, self.phases = [], [], None, "", [], []
        self._in, self._depth = None, 0

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "rect" and "cell" in a.get("class", "").split() and "data-state" in a:
            self.cells.append(a["data-state"])
        if tag == "tr" and a.get("id", "").startswith("block-"):
            self.blocks.append(int(a["id"][6:]))
        elif tag == "tr" and a.get("id", "").startswith("phase-"):
            self.phases.append(a["id"])
        if tag == "td" and "pattern" in a.get("class", "").split():
            self._in = "pattern"
        if tag == "div" and a.get("id") == "outcome":
            self.outcome, self._in, self._depth = a.get("data-outcome"), "verdict", 0
        elif self._in == "verdict" and tag != "br":
            self._depth += 1

    def handle_endtag(self, tag):
        if self._in == "pattern" and tag == "td":
            self._in = None
        elif self._in == "verdict":
            if self._depth == 0 and tag == "div":
                self._in = None
            elif tag != "br":
                self._depth -= 1

    def handle_data(self, data):
        if self._in == "pattern":
            self.beeps.append(data)
        elif self._in == "verdict":
            self.verdict += data


def open_page(browser, tmp, name):
    """The DOM of page `name`, which must ask the network for nothing and log no console message."""
    page = os.path.join(tmp, name + ".html")
    shot = os.path.join(tmp, name + ".png")
    dom_text, log, fetched = chromium(browser, tmp, name, ["--dump-dom", "--screenshot=" + shot], "file://" + page)
    check(fetched == [], f"{name}: the page asked the network for {fetched}")
    console = [line for line in log if ":CONSOLE" in line]
    check(console == [], f"{name}: Chromium logged for the page: {console}")
    check(os.path.exists(shot), f"{name}: no screenshot")
    return dom_text


class SurveyDom(html.parser.HTMLParser):
    """A survey page's marks per result on the strip of the whole recovery, its cut rows and counts."""

    def __init__(self):
        super().__init__()
        self.marks, self.rows, self.counts, self._strip, self._count = {}, 0, {}, None, None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "figure":
            self._strip = a.get("id")
        classes = a.get("class", "").split()
        if tag == "g" and "cut-mark" in classes and self._strip == "strip-whole":
            outcome = [c[2:] for c in classes if c.startswith("o-")][0]
            self.marks[outcome] = self.marks.get(outcome, 0) + 1
        if tag == "tr" and a.get("id", "").startswith("cut-"):
            self.rows += 1
        self._count = a.get("data-count")

    def handle_endtag(self, tag):
        if tag == "figure":
            self._strip = None

    def handle_data(self, data):
        if self._count:
            self.counts[self._count] = data
            self._count = None


def check_survey_page(browser, tmp, name, report):
    dom = SurveyDom()
    dom.feed(open_page(browser, tmp, name))
    summary = report["summary"]
    expected = {k: summary[k] for k in ("recovered", "bricked", "failed") if summary[k]}
    check(dom.marks == expected, f"{name}: marks per result {dom.marks}, the survey says {expected}")
    check(dom.rows == summary["cuts"], f"{name}: {dom.rows} rows of cuts, the survey has {summary['cuts']}")
    shown = {k: int(v) for k, v in dom.counts.items()}
    wanted = {k: summary[k] for k in ("cuts", "recovered", "bricked", "failed")}
    check(shown == wanted, f"{name}: counts shown {shown}, the survey says {wanted}")


def check_page(browser, tmp, name, report):
    dom = PageDom()
    dom.feed(open_page(browser, tmp, name))
    counts = {s: dom.cells.count(s) for s in set(dom.cells)}
    expected = {s: n for s, n in report["flash"]["map"].items() if n}
    check(len(dom.cells) == 512, f"{name}: {len(dom.cells)} map cells, not 512")
    check(counts == expected, f"{name}: map cells per state {counts}, the report says {expected}")
    beeps = ["(%d, %d, %d)" % tuple(b) for b in report["beeps"]]
    check(dom.beeps == beeps, f"{name}: beeps on the page {dom.beeps}, in the report {beeps}")
    check(dom.outcome == report["outcome"], f"{name}: outcome {dom.outcome}, the report says {report['outcome']}")
    word = "SUCCESS" if report["success"] else "FAILED"
    check(dom.verdict.strip().startswith(word), f"{name}: the verdict reads {dom.verdict.strip()[:80]!r}, not {word}")
    # The timeline has a phase for each 64 KiB block the module started a chunk of (its chunk
    # counters skip the 16 preserved chunks of block 23).
    started = {(c if c < 368 else c + 16) // 16 for c in range(report["chunks_done"])}
    check(dom.blocks == sorted(started), f"{name}: timeline blocks {dom.blocks}, started {sorted(started)}")
    # Every run here gets the embedded controller into flash mode, enables BIOS writes and detects
    # its part before the first chunk; it ends in a cut or otherwise.
    last = "phase-cut" if report["power_cut"] else "phase-end"
    check(dom.phases == ["phase-ec", "phase-we", "phase-detect", last], f"{name}: timeline phases {dom.phases}")


def check_layout(browser, tmp, names):
    """Width of every page in a 1280x900 frame, and what its screenshot holds."""
    wrapper = os.path.join(tmp, "wrapper.html")
    with open(os.path.join(tmp, CONTROL + ".html"), "w") as f:
        f.write(TOO_WIDE)
    with open(wrapper, "w") as f:
        f.write(WRAPPER_HEAD + "".join(FRAME.format(name=n) for n in names + [CONTROL]) +
                "".join(SHOT.format(name=n) for n in names) +
                WRAPPER_SCRIPT.replace("NAMES", json.dumps(names + [CONTROL])))
    dom, _, _ = chromium(browser, tmp, "wrapper", ["--allow-file-access-from-files", "--virtual-time-budget=5000",
                                                   "--dump-dom"], "file://" + wrapper)
    out = dict(re.findall(r'<output id="([^"]+)">([^<]*)</output>', dom))
    for name in names + [CONTROL]:
        m = re.fullmatch(r"(\d+) (\d+)", out.get(name + "-width", ""))
        if not check(m, f"{name}: no width measured ({out.get(name + '-width')})"):
            continue
        scroll, client = int(m.group(1)), int(m.group(2))
        fits = scroll <= client and client <= WIDTH
        check(fits if name != CONTROL else not fits,
              f"{name}: {scroll} px wide in a {client} px window" if name != CONTROL
              else f"the width check misses a page {scroll} px wide")
    for name in names:
        m = re.fullmatch(r"(\d+) (\d+) (\d+) (\d+)", out.get(name + "-shot", ""))
        if not check(m, f"{name}: screenshot not measured ({out.get(name + '-shot')})"):
            continue
        w, h, inked, colours = map(int, m.groups())
        check((w, h) == (WIDTH, HEIGHT), f"{name}: screenshot {w}x{h}")
        check(inked > w * h // 50 and colours > 8,
              f"{name}: the screenshot looks blank ({inked} of {w * h} pixels not white, {colours} colours)")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sim = sys.argv[1]
    browser = sys.argv[2] if len(sys.argv) > 2 else shutil.which("chromium-headless-shell")
    if not browser or not os.path.exists(browser):
        print("skipped: no chromium-headless-shell (./project deps test installs it)")
        sys.exit(77)
    with tempfile.TemporaryDirectory(prefix="rsim-browser-") as tmp:
        made = []
        for name, args, status in CASES + [SURVEY]:
            page, report = os.path.join(tmp, name + ".html"), os.path.join(tmp, name + ".json")
            run = subprocess.run([sim, "--quiet", "--html", page, "--report", report] + args,
                                 capture_output=True, text=True, timeout=120)
            if not check(run.returncode == status, f"{name}: recovery-sim exited {run.returncode}: {run.stderr}"):
                continue
            with open(report) as f:
                (check_survey_page if name == SURVEY[0] else check_page)(browser, tmp, name, json.load(f))
            made.append(name)
        check_layout(browser, tmp, made)
    for f in failures:
        print("FAIL", f)
    print(f"{len(CASES) + 1} pages checked in Chromium: {len(failures)} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
