#!/usr/bin/env python3
"""Turns the user guide into one HTML page for the Windows package, where no
program opens Markdown but every system has a browser.

    guide_html.py GUIDE.md OUT.html

The page is written beside the pictures it shows (OUT's folder holds
images/ as the guide's folder does). Every relative link and picture of the
page must then exist, every "#anchor" must name a heading of the page, and
every numbered list of the guide must come out with all its items:
otherwise nothing is written and the exit status is 1, so that a package
never ships a guide with a broken link or a procedure fallen apart.

Python-Markdown, which makes the page, reads list items more strictly than
most Markdown viewers: what follows an item's first paragraph must be
indented by four spaces, a code block inside it by eight (fenced blocks are
not seen there), and a blank line must separate such an item from the next.
"""
import html
import os
import re
import sys
from html.parser import HTMLParser

import markdown

STYLE = """
body { font-family: "Segoe UI", Tahoma, sans-serif; line-height: 1.45;
       max-width: 46em; margin: 2em auto; padding: 0 1em; color: #1b1b1b; }
h1, h2 { border-bottom: 1px solid #ccc; padding-bottom: .2em; }
code, pre { font-family: Consolas, "Courier New", monospace; background: #f3f3f3; }
code { padding: 0 .2em; }
pre { padding: .6em .8em; overflow-x: auto; }
pre code { padding: 0; }
table { border-collapse: collapse; }
th, td { border: 1px solid #ccc; padding: .3em .6em; text-align: left; vertical-align: top; }
img { max-width: 100%; }
"""

TEMPLATE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title}</title>
<style>{style}</style>
</head>
<body>
{body}
</body>
</html>
"""


class Targets(HTMLParser):
    """The ids of the page and the places its links and pictures point to."""

    def __init__(self):
        super().__init__()
        self.ids = set()
        self.links = []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        if tag == "a" and "href" in attrs:
            self.links.append(attrs["href"])
        if tag == "img" and "src" in attrs:
            self.links.append(attrs["src"])


def broken_links(page, folder):
    targets = Targets()
    targets.feed(page)
    broken = []
    for link in targets.links:
        if re.match(r"^[a-z][a-z0-9+.-]*:", link, re.I):  # http:, mailto: and the like
            continue
        path, _, anchor = link.partition("#")
        if path and not os.path.isfile(os.path.join(folder, path)):
            broken.append(link)
        elif not path and anchor not in targets.ids:
            broken.append(link)
    return broken


def markdown_lists(text):
    """The top-level numbered lists of the Markdown, read line by line apart
    from the converter: for each, the line it starts on and its item count."""
    lists, fence, blank = [], None, False
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.strip()
        if fence:
            if stripped.startswith(fence):
                fence = None
            continue
        opening = re.match(r"(`{3,}|~{3,})", stripped)
        if opening:
            fence = opening.group(1)
        if re.match(r"\d+\.\s", line):
            if not lists or lists[-1][2] is False:
                lists.append([number, 0, True])
            lists[-1][1] += 1
        elif not stripped:
            blank = True
            continue
        elif lists and lists[-1][2] and (line.startswith("#") or (blank and not line[0].isspace())):
            lists[-1][2] = False  # a heading, or unindented text after a blank line, ends it
        blank = False
    return [(start, items) for start, items, _ in lists]


class Lists(HTMLParser):
    """The item counts of the page's numbered lists that no list holds."""

    def __init__(self):
        super().__init__()
        self.counts = []
        self.open = []  # the lists open around the current point: "ol", "ul"

    def handle_starttag(self, tag, attrs):
        if tag in ("ol", "ul"):
            if tag == "ol" and not self.open:
                self.counts.append(0)
            self.open.append(tag)
        elif tag == "li" and self.open == ["ol"]:
            self.counts[-1] += 1

    def handle_endtag(self, tag):
        if tag in ("ol", "ul") and self.open:
            self.open.pop()


def broken_lists(text, page):
    """Where a numbered list of the guide lost items on the page."""
    html_lists = Lists()
    html_lists.feed(page)
    md_lists = markdown_lists(text)
    counts = html_lists.counts
    if [items for _, items in md_lists] == counts:
        return []
    broken = []
    for i, (start, items) in enumerate(md_lists):
        got = counts[i] if i < len(counts) else 0
        if got != items:
            broken.append(f"line {start}: {items} items, {got} on the page")
            break
    return broken or [f"the page has {len(counts)} numbered lists, the guide {len(md_lists)}"]


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, out = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8") as f:
        text = f.read()
    first = re.search(r"^# (.+)$", text, re.M)
    title = first.group(1) if first else "User guide"
    body = markdown.markdown(text, extensions=["tables", "fenced_code", "toc"], output_format="html")
    page = TEMPLATE.format(title=html.escape(title), style=STYLE, body=body)
    broken = broken_links(page, os.path.dirname(os.path.abspath(out)))
    if broken:
        print(f"{source}: links with nothing behind them: {', '.join(broken)}", file=sys.stderr)
        return 1
    broken = broken_lists(text, page)
    if broken:
        print(f"{source}: a numbered list falls apart on the web page ({'; '.join(broken)}): "
              "indent what follows an item's first paragraph by four spaces, code in it by eight, "
              "and leave a blank line before the next item", file=sys.stderr)
        return 1
    with open(out, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main())
