#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: user-guide-test.py GUIDE
# The user guide opens in any browser from the disk, so it must stand alone
# and be sound as a document: well-formed (it is written as XML-compatible
# HTML, so that this check can be strict), every link inside it leading
# somewhere, nothing loaded from elsewhere, headings in order, tables that a
# screen reader can follow.
import re
import sys
import xml.etree.ElementTree as ET

path = sys.argv[1]
try:
    root = ET.parse(path).getroot()
except ET.ParseError as e:
    print(f"FAILED: {path} is not well-formed: {e}")
    sys.exit(1)

problems = []
elements = list(root.iter())
if root.get("lang") != "en":
    problems.append('the html element has no lang="en"')
if not any(e.tag == "meta" and (e.get("charset") or "").lower() == "utf-8" for e in elements):
    problems.append("no UTF-8 charset declared")

ids = [e.get("id") for e in elements if e.get("id")]
problems += [f"id {i} used twice" for i in sorted({i for i in ids if ids.count(i) > 1})]
for e in elements:
    href = e.get("href")
    if e.tag == "a" and (href is None or not href.startswith("#")):
        problems.append(f"link to {href!r} leaves the guide")
    elif href is not None and href[1:] not in ids:
        problems.append(f"link {href} leads nowhere")
    if e.tag in ("script", "link", "img", "iframe", "object", "embed", "base"):
        problems.append(f"<{e.tag}> element")
    for name in ("src", "srcset", "background", "poster"):
        if e.get(name) is not None:
            problems.append(f"{name}={e.get(name)!r} loads a resource")
    if "url(" in (e.get("style") or ""):
        problems.append("a style attribute loads a resource")
style = "".join(e.text or "" for e in elements if e.tag == "style")
if re.search(r"url\(|@import|@font-face", style):
    problems.append("the style sheet loads a resource")

level = 0
for e in elements:
    m = re.fullmatch(r"h([1-6])", e.tag)
    if m:
        new = int(m.group(1))
        if new > level + 1:
            problems.append(f"heading h{new} {''.join(e.itertext())!r} follows h{level}")
        level = new
if sum(e.tag == "h1" for e in elements) != 1:
    problems.append("not exactly one h1")
for table in (e for e in elements if e.tag == "table"):
    if table.find("caption") is None:
        problems.append("a table without a caption")
    problems += ["a table heading without scope" for th in table.iter("th") if not th.get("scope")]
for svg in (e for e in elements if e.tag == "svg"):
    if svg.get("role") != "img" or not svg.get("aria-label"):
        problems.append("a picture without role and label")

for p in problems:
    print("FAILED:", p)
print(f"{len(ids)} ids, {sum(e.tag == 'a' for e in elements)} links checked")
sys.exit(1 if problems else 0)
