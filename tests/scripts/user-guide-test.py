#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Usage: user-guide-test.py GUIDE
# The user guide opens in any browser from the disk, so it must stand alone
# and be sound as a document: well-formed (it is written as XML-compatible
# HTML, so that this check can be strict), every link inside it leading
# somewhere, nothing loaded from elsewhere, headings in order, tables and
# pictures that a screen reader can follow.
import re
import sys
import xml.etree.ElementTree as ET

try:
    elements = list(ET.parse(sys.argv[1]).getroot().iter())
except ET.ParseError as e:
    sys.exit(f"FAILED: {sys.argv[1]} is not well-formed: {e}")

ids = [e.get("id") for e in elements if e.get("id")]
problems = [f"id {i} used twice" for i in sorted({i for i in ids if ids.count(i) > 1})]
if elements[0].get("lang") != "en":
    problems.append('the html element has no lang="en"')
if not any(e.tag == "meta" and (e.get("charset") or "").lower() == "utf-8" for e in elements):
    problems.append("no UTF-8 charset declared")
if sum(e.tag == "h1" for e in elements) != 1:
    problems.append("not exactly one h1")
# The style sheet and the style attributes.
style = "".join((e.text if e.tag == "style" else None) or e.get("style") or "" for e in elements)
if re.search(r"url\(|@import|@font-face", style):
    problems.append("a style loads a resource")
level = 0
for e in elements:
    href = e.get("href")
    if e.tag == "a" and (href is None or not href.startswith("#")):
        problems.append(f"link to {href!r} leaves the guide")
    elif href is not None and href[1:] not in ids:
        problems.append(f"link {href} leads nowhere")
    if e.tag in ("script", "link", "img", "iframe", "object", "embed", "base"):
        problems.append(f"<{e.tag}> element")
    for a in (a for a in ("src", "srcset", "background", "poster") if e.get(a) is not None):
        problems.append(f"{a}={e.get(a)!r} loads a resource")
    if m := re.fullmatch(r"h([1-6])", e.tag):
        if int(m.group(1)) > level + 1:
            problems.append(f"heading {e.tag} {''.join(e.itertext())!r} follows h{level}")
        level = int(m.group(1))
    if e.tag == "table" and e.find("caption") is None:
        problems.append("a table without a caption")
    if e.tag == "th" and not e.get("scope"):
        problems.append("a table heading without scope")
    if e.tag == "svg" and (e.get("role") != "img" or not e.get("aria-label")):
        problems.append("a picture without role and label")

for p in problems:
    print("FAILED:", p)
print(f"{len(ids)} ids, {sum(e.tag == 'a' for e in elements)} links checked")
sys.exit(1 if problems else 0)
