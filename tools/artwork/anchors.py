#!/usr/bin/env python3
"""Badge points of a mouse picture.

Every mouse drawing carries a hidden <g id="anchors"> group whose circles mark
the buttons: pos0..pos4 for the standard buttons (left, right, wheel, back,
forward) and hid0..hid3 for the vendor-coded extra buttons, in the order of
the model's hid_num list. The configuration window measures both axes in
thousandths of the picture's width, from its top-left corner.

  anchors.py print SVG             show the points in model.json units
  anchors.py sync SVG MODEL_JSON   copy the points into model.json
  anchors.py check SVG PNG         render the picture with the points marked
"""

import json
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

SVG_NS = "{http://www.w3.org/2000/svg}"
# Badges are 24 px on screen; the window usually shows a picture about
# 300 px wide, so a badge covers roughly 80 thousandths.
BADGE_THOUSANDTHS = 80


def load(svg_path):
    root = ET.parse(svg_path).getroot()
    width = float(re.match(r"[\d.]+", root.get("width")).group())
    group = next((g for g in root.iter(SVG_NS + "g") if g.get("id") == "anchors"), None)
    if group is None:
        sys.exit(f"{svg_path}: no anchors group")
    points = {}
    for c in group.iter(SVG_NS + "circle"):
        x = float(c.get("cx")) / width * 1000
        y = float(c.get("cy")) / width * 1000
        points[c.get("id")] = (round(x), round(y))
    for i in range(5):
        if f"pos{i}" not in points:
            sys.exit(f"{svg_path}: anchor pos{i} missing")
    return width, points


def extra_ids(points):
    return sorted((k for k in points if k.startswith("hid")), key=lambda k: int(k[3:]))


def cmd_print(svg_path):
    _, points = load(svg_path)
    for key, (x, y) in sorted(points.items()):
        print(f"{key}: x={x} y={y}")


def cmd_sync(svg_path, model_path):
    _, points = load(svg_path)
    with open(model_path, encoding="utf-8") as f:
        model = json.load(f)
    model["button_pos"] = [{"x": points[f"pos{i}"][0], "y": points[f"pos{i}"][1]} for i in range(5)]
    extras = extra_ids(points)
    hid = model.get("hid_num", [])
    if len(hid) != len(extras):
        sys.exit(f"{model_path}: {len(hid)} hid_num entries but {len(extras)} extra anchors")
    for entry, key in zip(hid, extras):
        entry["x"], entry["y"] = points[key]
    with open(model_path, "w", encoding="utf-8") as f:
        f.write(format_model(model))


def format_model(model):
    """model.json with one line per key and per list entry, so diffs stay readable."""
    def flat(value):
        return json.dumps(value, ensure_ascii=False, separators=(", ", ": "))

    lines = []
    for key, value in model.items():
        if isinstance(value, list) and value:
            body = ",\n".join("    " + flat(v) for v in value)
            lines.append(f"  {flat(key)}: [\n{body}\n  ]")
        else:
            lines.append(f"  {flat(key)}: {flat(value)}")
    return "{\n" + ",\n".join(lines) + "\n}\n"


def cmd_check(svg_path, png_path):
    width, points = load(svg_path)
    with open(svg_path, encoding="utf-8") as f:
        text = f.read()
    scale = width / 1000
    marks = []
    for key, (x, y) in points.items():
        cx, cy = x * scale, y * scale
        r = BADGE_THOUSANDTHS / 2 * scale
        marks.append(
            f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="#ff2d55" fill-opacity="0.35" '
            f'stroke="#ff2d55" stroke-width="3"/>'
            f'<circle cx="{cx}" cy="{cy}" r="5" fill="#ffff00"/>'
            f'<text x="{cx + r + 4}" y="{cy + 8}" font-family="DejaVu Sans" font-size="24" '
            f'font-weight="bold" fill="#ff2d55">{key}</text>'
        )
    text = text.replace("</svg>", "".join(marks) + "</svg>")
    subprocess.run(["rsvg-convert", "-b", "#d8d8d8", "-o", png_path], input=text.encode(), check=True)


def main(argv):
    if len(argv) == 3 and argv[1] == "print":
        cmd_print(argv[2])
    elif len(argv) == 4 and argv[1] == "sync":
        cmd_sync(argv[2], argv[3])
    elif len(argv) == 4 and argv[1] == "check":
        cmd_check(argv[2], argv[3])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
