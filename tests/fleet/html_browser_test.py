#!/usr/bin/python3
"""The fleet page in a real headless Chromium, driven over the DevTools
protocol on a pipe (no port opened): the page opens with no console error and
no request but its own file; the figures in the DOM are those the maker
printed; labels that try to be markup stay text and run nothing; with
scripts off the list still reads; screenshots at desktop and phone width are
not blank and are kept in ARTEFACTS.

usage: html_browser_test.py MAKER ARTEFACTS
       html_browser_test.py --open-time PAGE   (for the bench: the time from
         navigation to the load event, the best of three)
  MAKER OUT.html writes a page and prints the figures it must show as JSON,
  strings as the tools show them: the fixture maker, or a command (a shell
  word list in MAKER) around orlim-fleet.
Exit 77 (skip) when Chromium can't be found or started, saying why.
"""
import base64
import fcntl
import html.parser
import json
import os
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-default-apps", "--disable-extensions", "--mute-audio", "--hide-scrollbars",
    "--remote-debugging-pipe",
]
SKIP = 77
failures = []


def check(name, ok, detail=""):
    if not ok:
        failures.append(name)
        print(f"FAIL: {name}" + (f": {detail}" if detail else ""))


class Browser:
    """Chromium with the DevTools protocol on fds 3 (to it) and 4 (from it):
    messages are JSON, each ended by a NUL byte."""

    def __init__(self, chromium, profile):
        to_r, self.to_w = os.pipe()
        self.from_r, from_w = os.pipe()

        def child_fds():
            # Above 4 first, so that neither lands on the other's place.
            reader, writer = os.dup(to_r), os.dup(from_w)
            reader, writer = fcntl.fcntl(reader, fcntl.F_DUPFD, 5), fcntl.fcntl(writer, fcntl.F_DUPFD, 5)
            os.dup2(reader, 3)
            os.dup2(writer, 4)

        self.log = open(os.path.join(profile, "chromium.log"), "wb")
        self.proc = subprocess.Popen(
            [chromium, *CHROMIUM_FLAGS, f"--user-data-dir={profile}", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
            pass_fds=(3, 4), preexec_fn=child_fds)
        os.close(to_r)
        os.close(from_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def close(self):
        try:
            self.call("Browser.close", timeout=10)
        except Exception:  # it may be gone already; it is stopped below either way
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self.to_w)
        os.close(self.from_r)
        self.log.close()

    def _read_message(self, deadline):
        import select
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("no answer from Chromium")
            ready, _, _ = select.select([self.from_r], [], [], left)
            if ready:
                chunk = os.read(self.from_r, 1 << 20)
                if not chunk:
                    raise EOFError("Chromium closed its pipe")
                self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None, timeout=30):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_w, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._read_message(deadline)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def wait_for(self, method, session, timeout=30):
        deadline = time.monotonic() + timeout
        for i, event in enumerate(self.events):
            if event.get("method") == method and event.get("sessionId") == session:
                return self.events.pop(i)
        while True:
            event = self._read_message(deadline)
            if event.get("method") == method and event.get("sessionId") == session:
                return event
            self.events.append(event)

    def open(self, url, scripts=True, width=1280, height=900, mobile=False):
        """A new tab showing url; its session. Events from it are kept."""
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.call("Target.attachToTarget",
                            {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.call(f"{domain}.enable", session=session)
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile},
                  session=session)
        if not scripts:
            self.call("Emulation.setScriptExecutionDisabled", {"value": True}, session=session)
        self.call("Page.navigate", {"url": url}, session=session)
        self.wait_for("Page.loadEventFired", session)
        return session

    def evaluate(self, session, expression):
        result = self.call("Runtime.evaluate",
                           {"expression": expression, "returnByValue": True}, session=session)
        if "exceptionDetails" in result:
            raise RuntimeError(f"evaluate: {result['exceptionDetails']}")
        return result["result"].get("value")

    def session_events(self, session):
        return [e for e in self.events if e.get("sessionId") == session]


def png_colours(data):
    """The distinct colours of an 8-bit RGB or RGBA PNG and its pixel count."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, idat, width = 8, b"", 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour_type = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour_type in (2, 6), "an 8-bit RGB(A) PNG"
            channels = 3 if colour_type == 2 else 4
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    previous = bytearray(stride)
    colours = {}
    for row in range(height):
        kind = raw[row * (stride + 1)]
        line = bytearray(raw[row * (stride + 1) + 1:(row + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                predictor = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + predictor) & 0xFF
        for i in range(0, stride, channels):
            pixel = bytes(line[i:i + 3])
            colours[pixel] = colours.get(pixel, 0) + 1
        previous = line
    return colours, width * height


class Dom(html.parser.HTMLParser):
    """The elements of a dumped DOM: tag counts, the count table, the labels."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.tags = {}
        self.stack = []
        self.counts = {}  # (collection, verdict) -> text
        self.labels = []
        self.needs_look = None
        self.filter_hidden = None
        self.cell = None
        self.collection = None
        self.name = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.tags[tag] = self.tags.get(tag, 0) + 1
        if tag == "tr" and "data-collection" in attrs:
            self.collection = attrs["data-collection"]
        if tag == "td" and "data-verdict" in attrs and self.collection is not None:
            self.cell = (self.collection, attrs["data-verdict"])
            self.counts[self.cell] = ""
        if attrs.get("id") == "needs-look-count":
            self.needs_look = int(attrs["data-count"])
        if attrs.get("id") == "filter":
            self.filter_hidden = "hidden" in attrs
        if tag == "bdi" and attrs.get("class") == "name":
            self.name = ""

    def handle_endtag(self, tag):
        if tag == "td":
            self.cell = None
        if tag == "tr":
            self.collection = None
        if tag == "bdi" and self.name is not None:
            self.labels.append(self.name)
            self.name = None

    def handle_data(self, data):
        if self.cell is not None:
            self.counts[self.cell] += data
        if self.name is not None:
            self.name += data


def open_time(chromium, page):
    work = tempfile.mkdtemp(prefix="orlim-html-")
    browser = Browser(chromium, work)
    try:
        best = None
        for _ in range(3):
            session = browser.open("file://" + os.path.abspath(page))
            load = browser.evaluate(
                session, "performance.getEntriesByType('navigation')[0].loadEventEnd")
            best = load if best is None else min(best, load)
        print(f"load event {best:.0f} ms after navigation")
    finally:
        browser.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--open-time":
        chromium = shutil.which("chromium") or shutil.which("chromium-browser")
        return open_time(chromium, sys.argv[2]) if chromium else SKIP
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    maker, artefacts = shlex.split(sys.argv[1]), sys.argv[2]
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if chromium is None:
        print("SKIP: no chromium on PATH (tools/deps.sh test installs Debian's)")
        return SKIP
    os.makedirs(artefacts, exist_ok=True)
    work = tempfile.mkdtemp(prefix="orlim-html-")
    try:
        page = os.path.join(artefacts, "fleet.html")
        made = subprocess.run([*maker, page], capture_output=True, text=True)
        if made.returncode != 0:
            print(f"FAIL: making the page: {made.stderr}")
            return 1
        figures = json.loads(made.stdout)
        url = "file://" + os.path.abspath(page)
        profile = os.path.join(work, "profile")
        os.makedirs(profile)
        try:
            browser = Browser(chromium, profile)
            browser.call("Browser.getVersion", timeout=30)
        except (OSError, TimeoutError, EOFError) as error:
            print(f"SKIP: chromium does not start here: {error}")
            return SKIP
        try:
            run_checks(browser, url, figures, artefacts)
        finally:
            browser.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print(f"page, screenshots: {artefacts}")
    return 0


def run_checks(browser, url, figures, artefacts):
    session = browser.open(url)
    title = browser.evaluate(session, "document.title")
    dom_text = browser.evaluate(session, "document.documentElement.outerHTML")
    filter_shown = browser.evaluate(session, "!document.getElementById('filter').hidden")
    # The filter box works: typing a label's start leaves only its matches.
    filtered = browser.evaluate(session, """(function(){
        var q=document.querySelector('#filter input'); q.value='web-0';
        q.dispatchEvent(new Event('input'));
        var shown=[].filter.call(document.querySelectorAll('li.label'),
                                 function(li){return !li.hidden;}).length;
        q.value=''; q.dispatchEvent(new Event('input')); return shown;})()""")
    time.sleep(0.3)  # late console messages and requests
    browser.call("Runtime.evaluate", {"expression": "1"}, session=session)
    events = browser.session_events(session)

    problems = [e for e in events if e["method"] == "Runtime.exceptionThrown"
                or (e["method"] == "Runtime.consoleAPICalled"
                    and e["params"]["type"] in ("error", "warning", "assert"))
                or (e["method"] == "Log.entryAdded"
                    and e["params"]["entry"]["level"] in ("error", "warning"))]
    check("no console error or warning", not problems, json.dumps(problems)[:2000])
    requests = [e["params"]["request"]["url"] for e in events
                if e["method"] == "Network.requestWillBeSent"]
    check("no request but the page itself", requests == [url], repr(requests))

    dom = Dom()
    dom.feed(dom_text)
    want_title = "Fleet registry " + figures.get("registry", "")
    check("title untouched by any label's handler", "pwned" not in title, title)
    if "registry" in figures:
        check("title names the registry", title == want_title, f"{title!r} != {want_title!r}")
    check("no element made from a label", dom.tags.get("img", 0) == 0
          and dom.tags.get("script", 0) == 1 and dom.tags.get("i", 0) == 0
          and dom.tags.get("b", 0) == 0, repr(dom.tags))
    for collection in figures["collections"]:
        for verdict, value in collection.items():
            if verdict == "name":
                continue
            key = (collection["name"], verdict)
            check(f"count {key}", dom.counts.get(key) == str(value),
                  f"{dom.counts.get(key)!r} != {value}")
    check("every count of the page was expected",
          len(dom.counts) == sum(len(c) - 1 for c in figures["collections"]),
          f"{len(dom.counts)} counts")
    check("needs-a-look total", dom.needs_look == figures["needs_look"],
          f"{dom.needs_look} != {figures['needs_look']}")
    want_labels = figures["listed"]
    check("labels listed as text", sorted(dom.labels) == sorted(want_labels),
          f"{dom.labels!r} != {want_labels!r}")
    if "filter_matches" in figures:
        check("filter box narrows the list", filtered == figures["filter_matches"], repr(filtered))
    check("filter box shown where scripts run", filter_shown is True)
    shoot(browser, url, artefacts)

    # Scripts off: the same list, and the filter box (script-made) stays hidden.
    quiet = browser.open(url, scripts=False)
    root = browser.call("DOM.getDocument", {"depth": 0}, session=quiet)["root"]["nodeId"]
    quiet_html = browser.call("DOM.getOuterHTML", {"nodeId": root}, session=quiet)["outerHTML"]
    quiet_dom = Dom()
    quiet_dom.feed(quiet_html)
    check("scripts off: labels listed", sorted(quiet_dom.labels) == sorted(want_labels))
    check("scripts off: counts shown", quiet_dom.counts == dom.counts)
    check("scripts off: no filter box", quiet_dom.filter_hidden is True)


def shoot(browser, url, artefacts):
    for name, width, height, mobile in (("desktop", 1280, 900, False), ("phone", 390, 844, True)):
        session = browser.open(url, width=width, height=height, mobile=mobile)
        shot = browser.call("Page.captureScreenshot", {"format": "png"}, session=session)
        data = base64.b64decode(shot["data"])
        path = os.path.join(artefacts, f"fleet-{name}.png")
        with open(path, "wb") as file:
            file.write(data)
        colours, pixels = png_colours(data)
        background = max(colours.values())
        check(f"{name} screenshot size", struct.unpack(">II", data[16:24]) == (width, height))
        check(f"{name} screenshot not blank", len(colours) >= 8 and background < 0.97 * pixels,
              f"{len(colours)} colours, {background}/{pixels} the commonest")
        # Nothing runs off the side at phone width: the page scrolls down only.
        overflow = browser.evaluate(
            session, "document.documentElement.scrollWidth - document.documentElement.clientWidth")
        check(f"{name}: no sideways scrolling", overflow <= 0, f"{overflow} px")


if __name__ == "__main__":
    sys.exit(main())
