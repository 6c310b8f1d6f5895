#!/usr/bin/env python3
"""Turns the user guide into one HTML page for the Windows package, where no
program opens Markdown but every system has a browser.

    guide_html.py GUIDE.md OUT.html

The page is written beside the pictures it shows (OUT's folder holds
images/ as the guide's folder does). Every relative link and picture of the
page must then exist, and every "#anchor" must name a heading of the page:
otherwise nothing is written and the exit status is 1, so that a package
never ships a guide with a broken link.
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
    with open(out, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main())
