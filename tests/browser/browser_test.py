#!/usr/bin/env python3
"""Rendered pages in a real browser (headless Chromium through Selenium).

Renders documents with kvedit and checks in the browser that every table
nested in a cell of a corpus document lies within that cell, that collapsible
sections, stored as documents store them (the bar in a group of its own inside
the section hotspot, one of them in a table cell), hide and show their whole
content when their title is clicked, each title its own section only (the
script form of "SectionsInCSS=" in HTML and XHTML, with "HeadTag=" too, and
the styled form of "WrenlatchSections="; also for bars without their group
and for bars the walk meets), that
layers sit where their records place them, and that no page logs a JavaScript
error. Exits 77 (skipped) only when Chromium cannot be started here.
"""
import argparse
import base64
import os
import re
import shutil
import subprocess
import sys
import tempfile
import traceback

sys.dont_write_bytecode = True  # the source tree stays as it is
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pages  # noqa: E402

SKIP = 77

# A 1 x 1 GIF for the section icons, so that pages load nothing that is missing.
PIXEL_GIF = bytes.fromhex("47494638396101000100800000000000ffffff21f90401000000002c"
                          "00000000010001000002024401003b")

# The host page's own switch for styled sections (the renderer writes the
# markup only): a click on a header hides or shows its content block.
STYLED_SWITCH = """
document.querySelectorAll("div[id^='sctn'][id$='h']").forEach(function (h) {
  h.addEventListener('click', function () {
    var c = document.getElementById(h.id.slice(0, -1) + 'c');
    c.style.display = c.style.display === 'none' ? '' : 'none';
  });
});
"""


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def start_browser(profile):
    try:
        import selenium  # noqa: F401
    except ImportError:
        # Debian's python3-selenium, when another interpreter runs the test.
        sys.path.append("/usr/lib/python3/dist-packages")
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.options import Options
        from selenium.webdriver.chrome.service import Service
    except ImportError as e:
        return None, "python3-selenium is not installed (%s)" % e
    binary = shutil.which("chromium") or shutil.which("chromium-browser")
    driver_path = shutil.which("chromedriver")
    if not binary or not driver_path:
        return None, "chromium or chromedriver is not installed"
    options = Options()
    options.binary_location = binary
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu",
                "--disable-background-networking", "--disable-component-update",
                "--disable-sync", "--no-first-run", "--disable-dev-shm-usage",
                "--window-size=1024,768", "--user-data-dir=" + profile):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    try:
        return webdriver.Chrome(service=Service(driver_path), options=options), None
    except Exception as e:  # the browser itself does not start here
        return None, "chromium does not start: %s" % e


def render(kvedit, source, target, options="", xhtml=False, item=None, note=None):
    command = [kvedit, "render", source, "--out", target]
    if item:
        command += ["--item", item]
    if note:
        command += ["--note", "#%d" % note]
    if xhtml:
        command.append("--xhtml")
    if options:
        command += ["--options", options]
    result = subprocess.run(command, capture_output=True, text=True)
    check(result.returncode == 0, "kvedit render failed: %s %s" % (command, result.stderr))
    return target


class Browser:
    def __init__(self, driver):
        self.driver = driver

    def open(self, path):
        self.driver.get("file://" + path)
        self.path = path
        self.errors()  # nothing before the page counts

    def errors(self):
        return [e for e in self.driver.get_log("browser") if e.get("level") == "SEVERE"]

    def expect_no_errors(self):
        errors = self.errors()
        check(not errors, "%s: errors in the console: %s" % (self.path, errors))

    def by_id(self, ident):
        from selenium.webdriver.common.by import By
        return self.driver.find_element(By.ID, ident)

    def text_shown(self, text):
        """True when an element holding exactly this text is displayed."""
        from selenium.webdriver.common.by import By
        found = self.driver.find_elements(
            By.XPATH, "//*[normalize-space(text())='%s']" % text)
        check(found, "%s: no element holds %r" % (self.path, text))
        return any(e.is_displayed() for e in found)

    def click(self, element):
        self.driver.execute_script("arguments[0].scrollIntoView(true);", element)
        element.click()


def expect_shown(browser, texts, shown, when):
    for text in texts:
        check(browser.text_shown(text) == shown,
              "%s: %r is %s %s" % (browser.path, text, "hidden" if shown else "shown", when))


def script_form(browser, page):
    """"SectionsInCSS=": two blocks switched by the head's expandCollapseSection.
    Each title opens and closes its own section only."""
    from selenium.webdriver.common.by import By
    browser.open(page)
    for _, lines, expanded in pages.SECTIONS:
        expect_shown(browser, lines, expanded, "on loading")
    expect_shown(browser, pages.OUTSIDE, True, "on loading")
    for n, (_, lines, expanded) in enumerate(pages.SECTIONS, 1):
        when = "after section %d was opened" % n
        if not expanded:
            browser.click(browser.by_id("sctn%dc" % n).find_element(By.TAG_NAME, "a"))
        expect_shown(browser, lines, True, when)
        expect_shown(browser, pages.OUTSIDE, True, when)
        browser.click(browser.by_id("sctn%de" % n).find_element(By.TAG_NAME, "a"))
        when = "after section %d was closed" % n
        expect_shown(browser, lines, False, when)
        expect_shown(browser, pages.OUTSIDE, True, when)
        browser.click(browser.by_id("sctn%dc" % n).find_element(By.TAG_NAME, "a"))
        expect_shown(browser, lines, True, "after section %d was opened again" % n)
    browser.expect_no_errors()


def script_form_walk(browser, page):
    """The script form of bars that the walk meets outside section hotspots."""
    from selenium.webdriver.common.by import By
    browser.open(page)
    expect_shown(browser, ["one", "two", "three"], False, "on loading")
    browser.click(browser.by_id("sctn1c").find_element(By.TAG_NAME, "a"))
    expect_shown(browser, ["one", "two"], True, "after expanding the first section")
    expect_shown(browser, ["three"], False, "after expanding the first section")
    check(browser.by_id("sctn2c").is_displayed(),
          "%s: the second section is inside the first" % page)
    browser.click(browser.by_id("sctn2c").find_element(By.TAG_NAME, "a"))
    expect_shown(browser, ["one", "two", "three"], True, "after expanding both sections")
    browser.click(browser.by_id("sctn1e").find_element(By.TAG_NAME, "a"))
    expect_shown(browser, ["one", "two"], False, "after collapsing the first section")
    expect_shown(browser, ["three"], True, "after collapsing the first section")
    browser.expect_no_errors()


def styled_form(browser, page, sections, following):
    """"WrenlatchSections=": a header and a content block per section; each
    header hides and shows its own content only."""
    browser.open(page)
    browser.driver.execute_script(STYLED_SWITCH)
    for n, lines in enumerate(sections, 1):
        expect_shown(browser, lines, True, "on loading")
        header = browser.by_id("sctn%dh" % n)
        browser.click(header)
        when = "after header %d was clicked" % n
        expect_shown(browser, lines, False, when)
        # What follows the section is not inside it.
        expect_shown(browser, following, True, when)
        for other in sections[:n - 1] + sections[n:]:
            expect_shown(browser, other, True, when)
        browser.click(header)
        expect_shown(browser, lines, True, "after header %d was clicked again" % n)
    browser.expect_no_errors()


def layer_places(browser, page, expected):
    browser.open(page)
    for ident, left, top, width, height in expected:
        rect = browser.driver.execute_script(
            "var r = document.getElementById(arguments[0]).getBoundingClientRect();"
            "return [r.left + window.scrollX, r.top + window.scrollY, r.width, r.height];",
            ident)
        want = [left, top, width, height]
        compared = 4 if width else 2  # a size of 0: the place only
        check(all(abs(rect[i] - want[i]) < 0.5 for i in range(compared)),
              "%s: layer %s at %s, its records say %s" % (page, ident, rect, want))
    browser.expect_no_errors()


def nested_table_items(corpus):
    """(file, note number, item name) of the corpus's rich-text items that hold
    a nested table's begin record (0xCF, 14 bytes)."""
    items = []
    for root, _, files in os.walk(os.path.join(corpus, "dxl")):
        for name in sorted(files):
            with open(os.path.join(root, name), encoding="utf-8", errors="replace") as f:
                text = f.read()
            for m in re.finditer(r"<item name='([^']*)'[^>]*>\s*<rawitemdata type='1'>(.*?)<",
                                 text, re.S):
                if b"\xcf\x0e" in base64.b64decode(m.group(2)):
                    items.append((os.path.join(root, name), text.count("<note ", 0, m.start()),
                                  m.group(1)))
    return items


def nested_tables_fit(browser, page):
    """Each table inside a cell lies within that cell: its margin counts from
    the cell, not the page."""
    browser.open(page)
    outside = browser.driver.execute_script(
        "var out = [];"
        "document.querySelectorAll('td table').forEach(function (t) {"
        "  var c = t.parentElement.closest('td').getBoundingClientRect();"
        "  var r = t.getBoundingClientRect();"
        "  if (r.left < c.left - 0.5 || r.right > c.right + 0.5)"
        "    out.push([r.left, r.right, c.left, c.right]);"
        "});"
        "return out;")
    check(not outside, "%s: tables outside their cells (table, cell edges): %s" % (page, outside))
    browser.expect_no_errors()


def errors_are_seen(browser, directory):
    """The console check itself: a page with a script error must be caught."""
    page = os.path.join(directory, "broken.html")
    with open(page, "w") as f:
        f.write("<!DOCTYPE html><html><body><script>undefinedFunction();</script></body></html>")
    browser.driver.get("file://" + page)
    check(browser.errors(), "a script error did not reach the console log")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kvedit", required=True)
    parser.add_argument("--corpus", default="")
    args = parser.parse_args()

    directory = tempfile.mkdtemp(prefix="kv-browser-")
    profile = os.path.join(directory, "profile")
    driver, reason = start_browser(profile)
    if driver is None:
        print("SKIPPED: " + reason)
        shutil.rmtree(directory, ignore_errors=True)
        return SKIP
    passed = failed = 0
    try:
        os.makedirs(os.path.join(directory, "icons"))
        for name in ("expand.gif", "collapse.gif"):
            with open(os.path.join(directory, "icons", name), "wb") as f:
                f.write(PIXEL_GIF)
        documents = {"sections": pages.sections_document(),
                     "bare": pages.sections_document(grouped=False),
                     "bars": pages.walk_bars_document(), "layers": pages.layers_document()}
        sources = {}
        for name, text in documents.items():
            sources[name] = os.path.join(directory, name + ".dxl")
            with open(sources[name], "w") as f:
                f.write(text)
        out = lambda name: os.path.join(directory, name)
        browser = Browser(driver)
        script = "SectionsInCSS=Yes LocalKvSymbols=Yes"
        styled = "WrenlatchSections=Yes"
        head_tag = " HeadTag='<meta name=\"description\" content=\"sections\"/>'"
        lines = [lines for _, lines, _ in pages.SECTIONS]

        def sections_page(form, document, extra, xhtml):
            page = out("%s-%s-%d%s" % (form, document, len(extra), ".xhtml" if xhtml else ".html"))
            page = render(args.kvedit, sources[document], page,
                          (script if form == "script" else styled) + extra, xhtml=xhtml)
            if form == "script":
                script_form(browser, page)
            else:
                styled_form(browser, page, lines, pages.OUTSIDE)

        checks = [("console errors are seen", lambda: errors_are_seen(browser, directory))]
        for form in ("script", "styled"):
            for document, extra, xhtml, what in (
                    ("sections", "", False, "HTML"), ("sections", "", True, "XHTML"),
                    ("sections", head_tag, False, "with HeadTag="),
                    ("sections", head_tag, True, "with HeadTag=, XHTML"),
                    ("bare", "", False, "bars without their group")):
                checks.append(("%s form, %s" % (form, what),
                               lambda a=(form, document, extra, xhtml): sections_page(*a)))
        checks += [
            ("script form, bars met by the walk", lambda: script_form_walk(
                browser, render(args.kvedit, sources["bars"], out("bars-script.html"), script))),
            ("styled form, bars met by the walk", lambda: styled_form(
                browser, render(args.kvedit, sources["bars"], out("bars.html"), styled),
                [["one", "two"], ["three"]], ["Second section"])),
            ("layers", lambda: layer_places(
                browser, render(args.kvedit, sources["layers"], out("layers.html")),
                [(n, left, top, w, h) for n, top, left, w, h, *_ in pages.LAYERS])),
            ("layers, XHTML", lambda: layer_places(
                browser, render(args.kvedit, sources["layers"], out("layers.xhtml"), xhtml=True),
                [(n, left, top, w, h) for n, top, left, w, h, *_ in pages.LAYERS])),
        ]
        corpus = os.environ.get("KV_CORPUS") or args.corpus
        view = os.path.join(corpus, "dxl/jnx/testDbDesignEmbedded/embedded_view.xml")
        if corpus and os.path.exists(view):
            # A form of the corpus whose first layer's records say 95 pixels
            # from the left and 81 from the top.
            checks.append(("layers of a real form", lambda: layer_places(
                browser, render(args.kvedit, view, out("view.html"), item="$Body"),
                [("Layer_1", 95, 81, 0, 0)])))
        for n, (path, note, item) in enumerate(nested_table_items(corpus) if corpus else []):
            checks.append(("nested tables in their cells, %s %s" % (os.path.basename(path), item),
                           lambda a=(path, note, item, n): nested_tables_fit(browser, render(
                               args.kvedit, a[0], out("nested%d.html" % a[3]), item=a[2],
                               note=a[1]))))
        for name, run in checks:
            try:
                run()
                passed += 1
                print("ok: " + name)
            except Failure as e:
                failed += 1
                print("FAILED: %s: %s" % (name, e))
            except Exception:
                failed += 1
                print("FAILED: %s:\n%s" % (name, traceback.format_exc()))
    finally:
        driver.quit()
        shutil.rmtree(directory, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
