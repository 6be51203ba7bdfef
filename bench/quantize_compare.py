#!/usr/bin/python3
"""Colour reduction and palette mapping: libdaz's quantizer against its peers,
quality and CPU time.

  /usr/bin/python3 bench/quantize_compare.py [--work DIR] [--ours CMD]
      [--repeat R] [--quick] [--colors 256,64,16,4] [--images NAME,...]
      [--no-map] [--no-reduce] [--reference] [--peers LIST] [--reuse CSV] [--markdown FILE] [--csv FILE]

Options:
  --work DIR      the cache of test images, palettes and outputs (default
                  /tmp/quantize-bench); the images are made there once, from
                  the sources named below, and reused by later runs.
  --ours CMD      the command for ours (default: BUILD/bench/quantize_png
                  under the checkout, BUILD from --build). It is called as
                  `CMD IN.png OUT.png COLORS [--dither] [--map PALETTE.png]`
                  and writes an indexed PNG; CMD is split as a shell would,
                  so a stand-in can be a script and its arguments. Without
                  it, the tables leave ours out.
  --build DIR     the build folder for the default --ours (build/default).
  --repeat R      timed runs of every peer on every image (default 3); the
                  peers take turns within a round, the order turning from
                  round to round, and the median CPU time is reported.
  --quick         a handful of small images, 256 and 16 colours, the EGA
                  palette only: for tuning the quantizer (under a minute of CPU).
  --colors LIST   the colour counts (default 256,64,16,4; --quick: 256,16).
  --images LIST   only these images (names as in the tables).
  --no-map        leave the palette mapping out; --no-reduce, the reduction.
  --peers LIST    run only these peers: ours, pngquant, pillow-mediancut,
                  pillow-octree, imagemagick (default all), or none (with
                  --reuse: the tables of earlier runs, put together).
  --reuse CSV,... with --peers: the other peers' rows from earlier runs'
                  --csv files (the first file holding a row wins), for the
                  same images and settings, marked * in the
                  tables (their CPU times are then not paired with this
                  run's). For taking ours and pngquant again after a change
                  to ours without the slow peers.
  --reference     also references that are not peers, without dithering:
                  for reduction pngquant's palette refined by k-means to
                  convergence (see kmeans_reference; it needs pngquant's
                  outputs in DIR/out), for mapping each pixel's nearest
                  entry in RGB (the highest PSNR a mapping can have).
  --markdown FILE the tables also to FILE; --csv FILE every result, one a
                  row (when, with the load; image, source, task, colours or
                  palette, dither, peer, status, colours in the output,
                  indexed or not, PSNR, dE2000, median CPU ms, every run's).

The peers, each writing an indexed PNG of at most N colours:
  ours                quantize_png IN OUT N, and with --dither
  pngquant            pngquant 2 at its default speed, --nofs (no dithering)
                      and without it (its Floyd-Steinberg dithering)
  Pillow median cut   Image.quantize(N, method=MEDIANCUT); dithered: the
                      image mapped onto that palette with Floyd-Steinberg
                      (quantize(palette=..., dither=FLOYDSTEINBERG)), since
                      Pillow's quantize does not dither when it makes the
                      palette itself
  Pillow fast octree  the same with method=FASTOCTREE
  ImageMagick         convert IN -dither None -colors N OUT, and
                      -dither FloydSteinberg
Mapping onto a fixed palette (a 16-colour EGA palette, the 216 web-safe
colours, 32 colours Pillow's median cut makes of skimage's right-hand
motorcycle image, which is not in the set): ours --map, ImageMagick
-remap PALETTE and pngquant --map PALETTE, without and with dithering.

Quality, of each output against its original, both composited over black
first when they have alpha (ours has none: it composites over black
itself): PSNR over red, green and blue (peak 255), and the mean CIEDE2000
difference (skimage.color.rgb2lab, deltaE_ciede2000). A dithered output is
compared after a Gaussian blur of sigma 1 pixel, per channel, of both
images, which is roughly what the eye does with the dither's noise. Each
output's colours are counted; more than N (or a colour not in the palette,
when mapping) is reported as a violation.

CPU time: for the commands, the user and system time of the child
(getrusage(RUSAGE_CHILDREN) before and after), which includes reading and
writing the PNGs; for Pillow, the process CPU time of the quantize calls
alone, without decoding and encoding. Commands run with OMP_NUM_THREADS=1
and MAGICK_THREAD_LIMIT=1 (pngquant's libimagequant and ImageMagick use
OpenMP): one thread each, so that no peer's CPU time counts threads
spinning while they wait, on a machine of two cores shared with others.

With ours among the rows, the tables open with ours against the targets
and, for the reduction, ours' margin to the best peer on every image and
colour count, without and with dithering: PSNR, ours less the best peer's,
and dE2000, the best peer's less ours (positive: ours better), the peer
that beats ours named, and per colour count the images on which some peer
is better and the largest loss.

A peer failing on an image is reported in the tables and the CSV, and the
run goes on. The measures are kept in DIR/measures.json by the output's
bytes, so a peer giving the same output again is not measured again.
"""
import argparse
import csv
import hashlib
import html
import json
import io
import os
import re
import resource
import shlex
import shutil
import statistics
import subprocess
import sys
import time

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import cpu_fields  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The docs and page the screenshots show, as they stood at this commit, so
# that the screenshots stay the same whatever main holds later.
DOCS_COMMIT = "549ed3c"

SKIMAGE = "/usr/lib/python3/dist-packages/skimage/data"
GIMP_SPLASH = "/usr/share/gimp/2.0/images/gimp-splash.png"
PYTHON_LOGO = "/usr/lib/python3/dist-packages/distributed/http/static/images/python.png"
GAME_FRAME = "/usr/share/emscripten/tests/screenshot.png"

# (name, how it is made, where it comes from)
IMAGES = [
    ("astronaut", ("skimage", "astronaut"), "skimage.data.astronaut(), 512x512 photo"),
    ("chelsea", ("skimage", "chelsea"), "skimage.data.chelsea(), 451x300 photo"),
    ("coffee", ("skimage", "coffee"), "skimage.data.coffee(), 600x400 photo"),
    ("rocket", ("skimage", "rocket"), "skimage.data.rocket(), 640x427 photo (JPEG)"),
    ("hubble", ("skimage", "hubble_deep_field"),
     "skimage.data.hubble_deep_field(), 1000x872 (JPEG)"),
    ("ihc", ("skimage", "immunohistochemistry"),
     "skimage.data.immunohistochemistry(), 512x512 microscopy"),
    ("retina", ("skimage", "retina"), "skimage.data.retina(), 1411x1411 (JPEG)"),
    ("colorwheel", ("skimage", "colorwheel"), "skimage.data.colorwheel(), 371x370 synthetic"),
    ("logo", ("skimage", "logo"), "skimage.data.logo(), 500x500 with alpha"),
    ("motorcycle", ("skimage", "stereo_motorcycle"),
     "skimage.data.stereo_motorcycle()[0], 741x500 photo"),
    ("gimp-splash", ("file", GIMP_SPLASH), "Debian gimp-data, gimp-splash.png, 1920x1080 photo"),
    ("python-logo", ("scaled", PYTHON_LOGO, 5),
     "Debian python3-distributed, images/python.png (5000x4981) scaled to 1/5 "
     "(Lanczos), gradients with alpha"),
    ("game-frame", ("file", GAME_FRAME),
     "Debian emscripten, tests/screenshot.png, 512x512 rendered 3D frame"),
    ("shot-perf", ("doc", "docs/performance.md", "light", (1280, 800)),
     f"screenshot: docs/performance.md at {DOCS_COMMIT}, rendered, chromium 1280x800"),
    ("shot-format", ("doc", "docs/format.md", "dark", (1280, 800)),
     f"screenshot: docs/format.md at {DOCS_COMMIT}, dark theme, chromium 1280x800"),
    ("shot-web", ("web", (1280, 800)),
     f"screenshot: web/index.html at {DOCS_COMMIT} (the page before a file), chromium 1280x800"),
    ("shot-dashboard", ("dashboard", (1280, 800)),
     "screenshot: a made-up dashboard (flat colours, gradients, chart, text), chromium 1280x800"),
]

QUICK_IMAGES = ["chelsea", "coffee", "colorwheel", "logo", "shot-dashboard-crop"]
QUICK_EXTRA = [
    ("shot-dashboard-crop", ("crop", "shot-dashboard", (0, 0, 640, 400)),
     "the top left 640x400 of shot-dashboard"),
]

EGA = [(0, 0, 0), (0, 0, 170), (0, 170, 0), (0, 170, 170), (170, 0, 0), (170, 0, 170),
       (170, 85, 0), (170, 170, 170), (85, 85, 85), (85, 85, 255), (85, 255, 85),
       (85, 255, 255), (255, 85, 85), (255, 85, 255), (255, 255, 85), (255, 255, 255)]


# ---------------------------------------------------------------- the images

def chromium_shot(html_path, png_path, size):
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if not chromium:
        raise RuntimeError("chromium not found")
    subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                    "--force-device-scale-factor=1", f"--window-size={size[0]},{size[1]}",
                    f"--screenshot={png_path}", "file://" + os.path.abspath(html_path)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    with Image.open(png_path) as shot:
        shot.convert("RGB").save(png_path)  # no alpha channel of chromium's


def inline_markdown(text):
    text = html.escape(text, quote=False)
    text = re.sub(r"`([^`]+)`", r"<code>\1</code>", text)
    text = re.sub(r"\*\*([^*]+)\*\*", r"<strong>\1</strong>", text)
    text = re.sub(r"\[([^\]]+)\]\(([^)]+)\)", r'<a href="\2">\1</a>', text)
    return text


def markdown_to_html(source):
    """Enough Markdown for the docs: headings, paragraphs, lists, tables and
    code blocks."""
    out, paragraph, lines = [], [], source.splitlines()

    def flush():
        if paragraph:
            out.append("<p>" + inline_markdown(" ".join(paragraph)) + "</p>")
            paragraph.clear()

    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("```"):
            flush()
            block = []
            i += 1
            while i < len(lines) and not lines[i].startswith("```"):
                block.append(lines[i])
                i += 1
            out.append("<pre><code>" + html.escape("\n".join(block)) + "</code></pre>")
        elif line.startswith("    ") and not paragraph:
            block = []
            while i < len(lines) and (lines[i].startswith("    ") or not lines[i].strip()):
                block.append(lines[i][4:])
                i += 1
            out.append("<pre><code>" + html.escape("\n".join(block).rstrip()) + "</code></pre>")
            continue
        elif line.startswith("#"):
            flush()
            level = len(line) - len(line.lstrip("#"))
            out.append(f"<h{level}>{inline_markdown(line[level:].strip())}</h{level}>")
        elif line.startswith("|"):
            flush()
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                rows.append([c.strip() for c in lines[i].strip().strip("|").split("|")])
                i += 1
            table = ["<table>", "<tr>" + "".join(f"<th>{inline_markdown(c)}</th>" for c in rows[0])
                     + "</tr>"]
            for row in rows[2:]:
                table.append("<tr>" + "".join(f"<td>{inline_markdown(c)}</td>" for c in row)
                             + "</tr>")
            out.append("\n".join(table) + "</table>")
            continue
        elif re.match(r"^(- |\d+\. )", line):
            flush()
            items = []
            while i < len(lines) and lines[i].strip():
                if re.match(r"^(- |\d+\. )", lines[i]):
                    items.append(re.sub(r"^(- |\d+\. )", "", lines[i]))
                else:
                    items[-1] += " " + lines[i].strip()
                i += 1
            out.append("<ul>" + "".join(f"<li>{inline_markdown(t)}</li>" for t in items) + "</ul>")
            continue
        elif not line.strip():
            flush()
        else:
            paragraph.append(line.strip())
        i += 1
    flush()
    return "\n".join(out)


DOC_STYLES = {
    "light": """body{font-family:'DejaVu Sans',sans-serif;font-size:15px;margin:0;
background:#fff;color:#24292f}
header{background:linear-gradient(90deg,#0b3d91,#3a7bd5);color:#fff;padding:14px 32px;font-size:18px}
main{padding:8px 40px;max-width:1100px}h1,h2{border-bottom:1px solid #d0d7de;padding-bottom:4px}
h2{color:#0b3d91}code{background:#f0f2f5;padding:1px 4px;border-radius:4px;font-size:13px}
pre{background:#f6f8fa;border:1px solid #d0d7de;border-radius:6px;padding:10px}
table{border-collapse:collapse;margin:8px 0}td,th{border:1px solid #d0d7de;padding:4px 8px}
tr:nth-child(even){background:#f6f8fa}th{background:#eaeef2}a{color:#0969da}""",
    "dark": """body{font-family:'DejaVu Sans Mono',monospace;font-size:14px;margin:0;
background:#1e1e2e;color:#cdd6f4}
header{background:#181825;color:#a6e3a1;padding:10px 24px;border-bottom:2px solid #f38ba8}
main{padding:8px 32px}h1{color:#f9e2af}h2{color:#89b4fa}h3{color:#f5c2e7}
code{color:#fab387}pre{background:#11111b;border-left:4px solid #94e2d5;padding:10px}
table{border-collapse:collapse}td,th{border:1px solid #45475a;padding:3px 8px}
th{background:#313244;color:#a6e3a1}a{color:#89dceb}li::marker{color:#f38ba8}""",
}

DASHBOARD = """<!doctype html><html><head><meta charset="utf-8"><style>
body{margin:0;font-family:'DejaVu Sans',sans-serif;background:#f4f6fa;color:#1f2937}
.side{position:fixed;left:0;top:0;bottom:0;width:220px;background:#1f2a44;color:#cbd5e1;padding:20px}
.side h2{color:#fff;margin:0 0 24px}.side div{padding:10px 12px;border-radius:6px;margin:4px 0}
.side .on{background:#3b82f6;color:#fff}
.top{margin-left:260px;height:64px;background:linear-gradient(90deg,#6366f1,#ec4899);color:#fff;
display:flex;align-items:center;padding:0 24px;font-size:22px}
.main{margin-left:260px;padding:24px}
.cards{display:flex;gap:18px}.card{flex:1;background:#fff;border-radius:10px;padding:16px;
box-shadow:0 2px 6px rgba(0,0,0,.12)}.card b{font-size:28px;display:block}
.g{color:#16a34a}.r{color:#dc2626}.chart{display:flex;align-items:flex-end;gap:10px;height:220px;
background:#fff;border-radius:10px;padding:16px;margin-top:20px;box-shadow:0 2px 6px rgba(0,0,0,.12)}
.bar{flex:1;border-radius:4px 4px 0 0;background:linear-gradient(#60a5fa,#1d4ed8)}
.bar.alt{background:linear-gradient(#fbbf24,#f97316)}
table{width:100%;margin-top:20px;background:#fff;border-collapse:collapse;border-radius:10px}
td,th{padding:8px 12px;border-bottom:1px solid #e5e7eb;text-align:left}
.pill{padding:2px 10px;border-radius:12px;font-size:12px;color:#fff}
.ok{background:#22c55e}.warn{background:#f59e0b}.bad{background:#ef4444}
button{background:#10b981;color:#fff;border:0;border-radius:6px;padding:10px 18px;font-size:14px;
margin-top:18px;margin-right:8px}button.sec{background:#e5e7eb;color:#111827}
</style></head><body>
<div class="side"><h2>orvx console</h2><div class="on">Overview</div><div>Conversions</div>
<div>Palettes</div><div>Keys</div><div>Settings</div><div>Help</div></div>
<div class="top">Conversions this week</div>
<div class="main"><div class="cards">
<div class="card">Images converted<b>12,480</b><span class="g">+8.2%</span></div>
<div class="card">Palettes reduced<b>3,917</b><span class="g">+2.4%</span></div>
<div class="card">Failures<b>14</b><span class="r">+3</span></div>
<div class="card">Median time<b>2.75 ms</b><span class="g">-0.4 ms</span></div></div>
<div class="chart">BARS</div>
<table><tr><th>File</th><th>Colours</th><th>Size</th><th>Status</th></tr>
<tr><td>sample8.bmp</td><td>256</td><td>7 KiB</td><td><span class="pill ok">done</span></td></tr>
<tr><td>sunset.png</td><td>64</td><td>1.2 MiB</td><td><span class="pill warn">dithered</span></td></tr>
<tr><td>scan-0042.pgm</td><td>16</td><td>4.1 MiB</td><td><span class="pill bad">failed</span></td></tr>
<tr><td>icons.png</td><td>4</td><td>22 KiB</td><td><span class="pill ok">done</span></td></tr>
</table><button>Convert</button><button class="sec">Cancel</button></div></body></html>"""


def git_show(path):
    return subprocess.run(["git", "-C", ROOT, "show", f"{DOCS_COMMIT}:{path}"], check=True,
                          capture_output=True, text=True).stdout


def make_image(name, how, work):
    """Writes work/images/name.png from its source; does nothing if it is there."""
    folder = os.path.join(work, "images")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name + ".png")
    if os.path.exists(path):
        return path
    kind, partial = how[0], path + ".part.png"
    if kind == "skimage":
        import skimage.data
        pixels = getattr(skimage.data, how[1])()
        if isinstance(pixels, tuple):
            pixels = pixels[0]
        Image.fromarray(pixels).save(partial)
    elif kind == "file":
        with Image.open(how[1]) as source:
            source.save(partial)
    elif kind == "scaled":
        with Image.open(how[1]) as source:
            source.load()
            size = (source.width // how[2], source.height // how[2])
            source.resize(size, Image.Resampling.LANCZOS).save(partial)
    elif kind in ("doc", "web", "dashboard"):
        page_dir = os.path.join(work, "pages")
        os.makedirs(page_dir, exist_ok=True)
        page = os.path.join(page_dir, name + ".html")
        if kind == "doc":
            body = markdown_to_html(git_show(how[1]))
            text = (f"<!doctype html><html><head><meta charset='utf-8'><style>{DOC_STYLES[how[2]]}"
                    f"</style></head><body><header>orvx / {how[1]}</header><main>{body}</main>"
                    "</body></html>")
        elif kind == "web":
            text = git_show("web/index.html").replace("<script", "<!--script").replace(
                "</script>", "</script-->")
            with open(os.path.join(page_dir, "orvx-web.css"), "w") as css:
                css.write(git_show("web/orvx-web.css"))
        else:
            heights = [40, 65, 52, 80, 71, 90, 60, 35, 75, 95, 68, 84]
            bars = "".join(f'<div class="bar{" alt" if i % 3 == 2 else ""}" '
                           f'style="height:{h}%"></div>' for i, h in enumerate(heights))
            text = DASHBOARD.replace("BARS", bars)
        with open(page, "w") as out:
            out.write(text)
        chromium_shot(page, partial, how[-1])
    elif kind == "crop":
        with Image.open(make_image(how[1], dict((n, h) for n, h, _ in IMAGES)[how[1]], work)) as src:
            src.crop(how[2]).save(partial)
    else:
        raise ValueError(kind)
    os.replace(partial, path)
    return path


def make_palettes(work):
    folder = os.path.join(work, "palettes")
    os.makedirs(folder, exist_ok=True)
    palettes = {}

    def save(name, colours, source):
        path = os.path.join(folder, name + ".png")
        if not os.path.exists(path):
            image = Image.new("P", (len(colours), 1))
            image.putpalette([c for colour in colours for c in colour])
            image.putdata(list(range(len(colours))))
            image.save(path + ".part.png")
            os.replace(path + ".part.png", path)
        palettes[name] = (path, [tuple(c) for c in colours], source)

    save("ega16", EGA, "the 16 EGA colours")
    save("web216", [(r, g, b) for r in range(0, 256, 51) for g in range(0, 256, 51)
                    for b in range(0, 256, 51)], "the 216 web-safe colours")
    with Image.open(os.path.join(SKIMAGE, "motorcycle_right.png")) as right:
        reduced = right.convert("RGB").quantize(32, method=Image.Quantize.MEDIANCUT)
        used = sorted(set(reduced.getdata()))
        flat = reduced.getpalette()
        colours = [tuple(flat[3 * i:3 * i + 3]) for i in used]
    save("moto32", colours, "32 colours, Pillow median cut of skimage's motorcycle_right.png")
    return palettes


# ---------------------------------------------------------------- the peers

def command_env():
    env = dict(os.environ)
    env["OMP_NUM_THREADS"] = "1"
    env["MAGICK_THREAD_LIMIT"] = "1"
    return env


ENV = command_env()


def run_command(argv):
    """Runs argv; returns (CPU seconds of the child, error or None)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    try:
        result = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=ENV,
                                timeout=600)
    except (OSError, subprocess.TimeoutExpired) as error:
        return None, str(error)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if result.returncode != 0:
        message = result.stderr.decode(errors="replace").strip().splitlines()
        return cpu, f"exit {result.returncode}: {message[-1] if message else ''}"[:200]
    return cpu, None


class Peer:
    """One way of making an output: name, whether it dithers, and run(job) ->
    (CPU seconds, error)."""

    def __init__(self, name, dither, run):
        self.name, self.dither, self.run = name, dither, run


def command_peer(name, dither, argv_of):
    def run(job):
        if os.path.exists(job.output):
            os.remove(job.output)
        cpu, error = run_command(argv_of(job))
        if error is None and not os.path.exists(job.output):
            error = "no output"
        return cpu, error
    return Peer(name, dither, run)


def pillow_peer(name, method, dither):
    def run(job):
        image = job.pillow_input()
        start = time.process_time()
        try:
            reduced = image.quantize(job.colors, method=method)
            if dither:
                reduced = image.quantize(palette=reduced, dither=Image.Dither.FLOYDSTEINBERG)
        except Exception as error:  # a peer's failure is a result
            return None, f"{type(error).__name__}: {error}"[:200]
        cpu = time.process_time() - start
        reduced.save(job.output)
        return cpu, None
    return Peer(name, dither, run)


PEER_KEYS = {"ours": "ours", "pngquant": "pngquant", "Pillow median cut": "pillow-mediancut",
             "Pillow fast octree": "pillow-octree", "ImageMagick": "imagemagick"}


def reduction_peers(ours):
    peers = []
    if ours:
        peers += [
            command_peer("ours", False, lambda j: ours + [j.input, j.output, str(j.colors)]),
            command_peer("ours", True,
                         lambda j: ours + [j.input, j.output, str(j.colors), "--dither"]),
        ]
    peers += [
        command_peer("pngquant", False, lambda j: ["pngquant", "--force", "--nofs", "--output",
                                                   j.output, str(j.colors), j.input]),
        command_peer("pngquant", True, lambda j: ["pngquant", "--force", "--output", j.output,
                                                  str(j.colors), j.input]),
        pillow_peer("Pillow median cut", Image.Quantize.MEDIANCUT, False),
        pillow_peer("Pillow median cut", Image.Quantize.MEDIANCUT, True),
        pillow_peer("Pillow fast octree", Image.Quantize.FASTOCTREE, False),
        pillow_peer("Pillow fast octree", Image.Quantize.FASTOCTREE, True),
        command_peer("ImageMagick", False, lambda j: ["convert", j.input, "-dither", "None",
                                                      "-colors", str(j.colors), j.output]),
        command_peer("ImageMagick", True, lambda j: ["convert", j.input, "-dither",
                                                     "FloydSteinberg", "-colors", str(j.colors),
                                                     j.output]),
    ]
    return peers


def mapping_peers(ours):
    peers = []
    if ours:
        peers += [command_peer("ours", d, lambda j, d=d: ours + [
            j.input, j.output, str(j.colors), "--map", j.palette] + (["--dither"] if d else []))
            for d in (False, True)]
    peers += [
        command_peer("pngquant", False, lambda j: ["pngquant", "--force", "--nofs", "--map",
                                                   j.palette, "--output", j.output,
                                                   str(j.colors), j.input]),
        command_peer("pngquant", True, lambda j: ["pngquant", "--force", "--map", j.palette,
                                                  "--output", j.output, str(j.colors), j.input]),
        command_peer("ImageMagick", False, lambda j: ["convert", j.input, "-dither", "None",
                                                      "-remap", j.palette, j.output]),
        command_peer("ImageMagick", True, lambda j: ["convert", j.input, "-dither",
                                                     "FloydSteinberg", "-remap", j.palette,
                                                     j.output]),
    ]
    return peers


# ---------------------------------------------------------------- quality

def over_black(image):
    """float RGB in 0..1 of a PIL image, composited over black."""
    if image.mode in ("P", "PA", "LA", "L", "I", "I;16", "1", "CMYK", "YCbCr", "RGBX"):
        image = image.convert("RGBA")
    pixels = np.asarray(image, dtype=np.float64) / 255.0
    if pixels.ndim == 2:
        pixels = np.repeat(pixels[:, :, None], 3, axis=2)
    if pixels.shape[2] == 4:
        return pixels[:, :, :3] * pixels[:, :, 3:4]
    return pixels[:, :, :3]


def blurred(rgb):
    from scipy.ndimage import gaussian_filter
    return gaussian_filter(rgb, sigma=(1.0, 1.0, 0.0), mode="nearest")


class Original:
    """An input image and what the measures need of it, made once."""

    def __init__(self, name, path, source):
        self.name, self.path, self.source = name, path, source
        with open(path, "rb") as data:
            self.digest = hashlib.sha256(data.read()).hexdigest()[:16]
        with Image.open(path) as image:
            image.load()
            self.size = image.size
            self.has_alpha = image.mode in ("RGBA", "LA", "PA") or "transparency" in image.info
            self.rgb = over_black(image)
            if self.has_alpha:
                # Pillow's median cut takes no alpha: it gets the image over black.
                self.pillow = Image.fromarray(np.rint(self.rgb * 255).astype(np.uint8))
            else:
                self.pillow = image.convert("RGB")
        self._lab = {}

    def lab(self, dither):
        from skimage.color import rgb2lab
        if dither not in self._lab:
            self._lab[dither] = rgb2lab(blurred(self.rgb) if dither else self.rgb)
        return self._lab[dither]


MEASURES = {}  # (image, dither, palette given, colours, sha256 of the output) -> measure()


def measure(original, output, dither, colors, palette):
    """measure_once(), remembered for an output of the same bytes: most peers
    give the same bytes run after run, and the measures take longer than
    the peers."""
    with open(output, "rb") as data:
        digest = hashlib.sha256(data.read()).hexdigest()
    key = "|".join(map(str, (original.name, original.digest, dither, palette is not None,
                             colors, digest)))
    if key not in MEASURES:
        MEASURES[key] = list(measure_once(original, output, dither, colors, palette))
    return tuple(MEASURES[key])


def measure_once(original, output, dither, colors, palette):
    """(status, colours in the output, indexed, PSNR, dE2000) of output."""
    from skimage.color import deltaE_ciede2000, rgb2lab
    with Image.open(output) as image:
        image.load()
        indexed = image.mode in ("P", "1")
        rgba = np.asarray(image.convert("RGBA"))
        result = over_black(image)
    if result.shape != original.rgb.shape:
        return f"size {result.shape[1]}x{result.shape[0]}", None, indexed, None, None
    flat = rgba.reshape(-1, 4).view(np.uint32).ravel()
    used = np.unique(flat)
    status = "ok"
    if len(used) > colors:
        status = f"VIOLATION: {len(used)} colours > {colors}"
    if palette is not None:
        allowed = {(r, g, b) for r, g, b in palette}
        opaque = rgba.reshape(-1, 4)
        opaque = np.unique(opaque[opaque[:, 3] > 0][:, :3], axis=0)
        strays = [tuple(c) for c in opaque if tuple(int(v) for v in c) not in allowed]
        if strays:
            status = f"VIOLATION: {len(strays)} colours not in the palette"
    a, b = original.rgb, result
    if dither:
        b = blurred(b)
        a = blurred(a)
    mse = float(np.mean((a * 255.0 - b * 255.0) ** 2))
    psnr = float("inf") if mse == 0 else float(10.0 * np.log10(255.0 ** 2 / mse))
    de = float(np.mean(deltaE_ciede2000(original.lab(dither), rgb2lab(b))))
    return status, int(len(used)), bool(indexed), psnr, de


# ---------------------------------------------------------------- running

class Job:
    def __init__(self, original, colors, output, palette=None):
        self.original, self.input, self.colors = original, original.path, colors
        self.output, self.palette = output, palette

    def pillow_input(self):
        return self.original.pillow


def processor():
    info = cpu_fields()
    if info is None:
        return "unknown processor"
    flags = set(info.get("flags", "").split())
    vector = " ".join(f for f in ("avx2", "avx512f") if f in flags)
    return (f"{info.get('model name', 'unknown')} (family {info.get('cpu family', '?')}, "
            f"model {info.get('model', '?')}), {os.cpu_count()} cores, flags: {vector or 'no avx2'}")


def load_average():
    return " ".join(f"{x:.2f}" for x in os.getloadavg())


def kmeans_reference(originals, settings, work, log):
    """Rows of a reference that is not a peer: pngquant's palette (--nofs),
    refined by Lloyd's k-means iterations on the image's colours until the
    palette no longer moves (at most 40 rounds, on up to 250,000 pixels drawn
    with a fixed seed), then every pixel given its nearest entry. Each round
    can only lower the error of the pixels it runs on, so the distance from
    pngquant's figures to these is room that a better palette than
    pngquant's has on the same image, without dithering."""
    from scipy.cluster.vq import vq
    rows = []
    for original in originals:
        pixels = (original.rgb * 255.0).reshape(-1, 3)
        rng = np.random.default_rng(1)
        sample = pixels if len(pixels) <= 250_000 else \
            pixels[rng.choice(len(pixels), 250_000, replace=False)]
        for label, colors, _, _ in settings:
            start_from = os.path.join(work, "out", f"{original.name}-reduce-{label}-pngquant-none.png")
            row = {"measured": f"{time.strftime('%Y-%m-%d %H:%M')}, load {load_average()}",
                   "image": original.name, "source": original.source, "task": "reduce",
                   "setting": label, "colors": colors, "dither": False,
                   "peer": "k-means (reference)", "status": "", "colours_used": "",
                   "indexed": "", "psnr": None, "de2000": None, "cpu_ms": None,
                   "cpu_ms_runs": ""}
            if not os.path.exists(start_from):
                row["status"] = "FAILED: no pngquant output to start from"
                rows.append(row)
                continue
            with open(start_from, "rb") as data:
                digest = hashlib.sha256(data.read()).hexdigest()[:12]
            output = os.path.join(work, "out", f"{original.name}-reduce-{label}-kmeans-{digest}.png")
            if os.path.exists(output):  # made before from the same pngquant output
                status, used_colours, _, psnr, de = measure(original, output, False, colors, None)
                row.update(status=status, colours_used=used_colours, psnr=psnr, de2000=de)
                rows.append(row)
                continue
            with Image.open(start_from) as start:
                palette = np.unique((over_black(start) * 255.0).reshape(-1, 3), axis=0)
            for _ in range(40):
                nearest, _ = vq(sample, palette)
                counts = np.bincount(nearest, minlength=len(palette))
                sums = np.stack([np.bincount(nearest, weights=sample[:, c],
                                             minlength=len(palette)) for c in range(3)], axis=1)
                moved = palette.copy()
                used = counts > 0
                moved[used] = sums[used] / counts[used][:, None]
                if np.abs(moved - palette).max() < 0.05:
                    palette = moved
                    break
                palette = moved
            palette = np.clip(np.rint(palette), 0, 255)
            nearest, _ = vq(pixels, palette)
            result = palette[nearest].reshape(original.rgb.shape).astype(np.uint8)
            Image.fromarray(result).save(output + ".part.png")
            os.replace(output + ".part.png", output)
            status, used_colours, _, psnr, de = measure(original, output, False, colors, None)
            row.update(status=status, colours_used=used_colours, psnr=psnr, de2000=de)
            rows.append(row)
        log(f"  {original.name:<16} k-means reference done")
    return rows


def nearest_reference(originals, settings, work, log):
    """Rows of a reference for mapping without dithering: each pixel (over
    black) given the palette entry nearest in red, green and blue, the
    highest PSNR any mapping without dithering can have."""
    from scipy.cluster.vq import vq
    rows = []
    os.makedirs(os.path.join(work, "out"), exist_ok=True)
    for original in originals:
        pixels = (original.rgb * 255.0).reshape(-1, 3)
        for label, colors, _, palette in settings:
            entries = np.array(palette, dtype=np.float64)
            nearest, _ = vq(pixels, entries)
            output = os.path.join(work, "out", f"{original.name}-map-{label}-nearest.png")
            Image.fromarray(entries[nearest].reshape(original.rgb.shape).astype(np.uint8)).save(
                output)
            status, used, _, psnr, de = measure(original, output, False, colors, palette)
            rows.append({"measured": f"{time.strftime('%Y-%m-%d %H:%M')}, load {load_average()}",
                         "image": original.name, "source": original.source, "task": "map",
                         "setting": label, "colors": colors, "dither": False,
                         "peer": "nearest (reference)", "status": status, "colours_used": used,
                         "indexed": "", "psnr": psnr, "de2000": de, "cpu_ms": None,
                         "cpu_ms_runs": ""})
        log(f"  {original.name:<16} nearest reference done")
    return rows


def run_task(originals, settings, peers, repeat, work, task, log):
    """settings: [(label, colors, palette path or None, palette colours or None)].
    Returns rows: dicts, one per image, setting and peer."""
    rows = []
    if not peers:
        return rows
    out_dir = os.path.join(work, "out")
    os.makedirs(out_dir, exist_ok=True)
    for original in originals:
        for label, colors, palette, palette_colours in settings:
            jobs = []
            for k, peer in enumerate(peers):
                slug = re.sub(r"[^a-z0-9]+", "-", f"{peer.name}-{'fs' if peer.dither else 'none'}"
                              .lower())
                output = os.path.join(out_dir, f"{original.name}-{task}-{label}-{slug}.png")
                jobs.append((peer, Job(original, colors, output, palette)))
            times = {k: [] for k in range(len(jobs))}
            errors = {}
            for round_ in range(repeat):
                shift = round_ % len(jobs)
                order = list(range(len(jobs)))[shift:] + list(range(len(jobs)))[:shift]
                if round_ % 2:
                    order.reverse()
                for k in order:
                    if k in errors:
                        continue
                    peer, job = jobs[k]
                    cpu, error = peer.run(job)
                    if error:
                        errors[k] = error
                    else:
                        times[k].append(cpu)
            stamp = f"{time.strftime('%Y-%m-%d %H:%M')}, load {load_average()}"
            for k, (peer, job) in enumerate(jobs):
                row = {"measured": stamp, "image": original.name, "source": original.source,
                       "task": task,
                       "setting": label, "colors": colors, "dither": peer.dither,
                       "peer": peer.name, "status": "", "colours_used": "", "indexed": "",
                       "psnr": None, "de2000": None, "cpu_ms": None,
                       "cpu_ms_runs": " ".join(f"{t * 1000:.1f}" for t in times[k])}
                if k in errors:
                    row["status"] = "FAILED: " + errors[k]
                else:
                    try:
                        status, used, indexed, psnr, de = measure(
                            original, job.output, peer.dither, colors, palette_colours)
                    except Exception as error:
                        status, used, indexed, psnr, de = (
                            f"FAILED: unreadable output ({type(error).__name__}: {error})"[:200],
                            None, None, None, None)
                    row.update(status=status, colours_used=used, indexed=indexed, psnr=psnr,
                               de2000=de, cpu_ms=statistics.median(times[k]) * 1000)
                rows.append(row)
            log(f"  {original.name:<16} {task} {label:<7} done (load {load_average()})")
    return rows


# ---------------------------------------------------------------- tables

def fmt(value, digits=2):
    if value is None:
        return "n/a"
    if value == float("inf"):
        return "inf"
    return f"{value:.{digits}f}"


def summary_tables(rows, task, settings, peer_names, has_ours):
    """Markdown lines: per setting and dithering, each peer's median-image
    PSNR and dE2000, ours' wins, median CPU time and failures."""
    lines = []
    for label, colors, _, _ in settings:
        for dither in (False, True):
            subset = [r for r in rows if r["setting"] == label and r["dither"] == dither]
            if not subset:
                continue
            title = (f"{colors} colours" if task == "reduce" else f"palette {label}") + \
                (", Floyd-Steinberg dithering (quality after a blur of sigma 1)"
                 if dither else ", no dithering")
            lines += [f"#### {title}", ""]
            head = "| peer | median PSNR (dB) | median dE2000 |"
            rule = "|---|---|---|"
            if has_ours:
                head += " ours better, PSNR | ours better, dE2000 |"
                rule += "---|---|"
            head += " median CPU (ms) | CPU / ours (median of images) | failed or over |"
            rule += "---|---|---|"
            lines += [head, rule]
            ours = {r["image"]: r for r in subset if r["peer"] == "ours" and r["psnr"] is not None}
            for name in peer_names:
                mine = [r for r in subset if r["peer"] == name]
                if not mine:
                    continue
                good = [r for r in mine if r["psnr"] is not None]
                bad = [r for r in mine if not r["status"].startswith("ok")]
                psnr = statistics.median([r["psnr"] for r in good]) if good else None
                de = statistics.median([r["de2000"] for r in good]) if good else None
                times = [r["cpu_ms"] for r in good if r["cpu_ms"] is not None]
                cpu = statistics.median(times) if times else None
                mark = " *" if any(r.get("reused") for r in mine) else ""
                line = f"| {name}{mark} | {fmt(psnr)} | {fmt(de, 3)} |"
                paired = [(r, ours[r["image"]]) for r in good if r["image"] in ours]
                if has_ours:
                    if name == "ours":
                        line += " | |"
                    else:
                        wins_p = sum(1 for r, o in paired if o["psnr"] > r["psnr"])
                        wins_d = sum(1 for r, o in paired if o["de2000"] < r["de2000"])
                        line += f" {wins_p} of {len(paired)} | {wins_d} of {len(paired)} |"
                ratios = [r["cpu_ms"] / o["cpu_ms"] for r, o in paired
                          if r["cpu_ms"] is not None and o["cpu_ms"]]
                ratio = fmt(statistics.median(ratios)) if ratios and name != "ours" else ""
                line += f" {fmt(cpu, 1)} | {ratio} | {len(bad) or ''} |"
                lines.append(line)
            lines.append("")
    return lines


def targets_table(rows, settings):
    """Ours against the targets, per colour count and dithering: the median
    image's PSNR and dE2000 against pngquant's, the images on which ours is
    better than each of Pillow and ImageMagick (the worse of PSNR and dE2000),
    and the CPU time against pngquant's."""
    lines = ["### Ours against the targets", "",
             "| colours | dithering | PSNR, ours - pngquant (dB) | dE2000, ours - pngquant | "
             "ours better than Pillow median cut | than Pillow fast octree | than ImageMagick | "
             "CPU, ours / pngquant (median of images) |",
             "|---|---|---|---|---|---|---|---|"]
    for label, colors, _, _ in settings:
        for dither in (False, True):
            subset = [r for r in rows if r["setting"] == label and r["dither"] == dither
                      and r["psnr"] is not None]
            ours = {r["image"]: r for r in subset if r["peer"] == "ours"}
            if not ours:
                continue
            cells = []
            png = {r["image"]: r for r in subset if r["peer"] == "pngquant"}
            if png:
                cells.append(fmt(statistics.median(r["psnr"] for r in ours.values())
                                 - statistics.median(r["psnr"] for r in png.values())))
                cells.append(fmt(statistics.median(r["de2000"] for r in ours.values())
                                 - statistics.median(r["de2000"] for r in png.values()), 3))
            else:
                cells += ["n/a", "n/a"]
            for name in ("Pillow median cut", "Pillow fast octree", "ImageMagick"):
                theirs = [(r, ours[r["image"]]) for r in subset
                          if r["peer"] == name and r["image"] in ours]
                psnr = sum(1 for r, o in theirs if o["psnr"] > r["psnr"])
                de = sum(1 for r, o in theirs if o["de2000"] < r["de2000"])
                cells.append(f"{min(psnr, de)} of {len(theirs)}" if theirs else "n/a")
            ratios = [o["cpu_ms"] / png[i]["cpu_ms"] for i, o in ours.items()
                      if i in png and png[i]["cpu_ms"] > 0]
            cells.append(fmt(statistics.median(ratios)) if ratios else "n/a")
            lines.append(f"| {colors} | {'on' if dither else 'off'} | " + " | ".join(cells) + " |")
    return lines + [""]


SHORT = {"pngquant": "pq", "Pillow median cut": "mc", "Pillow fast octree": "oct",
         "ImageMagick": "im"}


def margins_table(rows, settings):
    """Ours' margin to the best peer on each image, per colour count and
    dithering: PSNR, ours - the best peer's (dB), and dE2000, the best
    peer's - ours (so that positive is ours better on both), the best peer
    named where it beats ours; and per count the images where any peer is
    better."""
    lines = ["### Ours' margin to the best peer, image by image", "",
             "Each cell: PSNR, ours - best peer (dB) / dE2000, best peer - ours; positive: "
             "ours better. The peer that beats ours is named (pq pngquant, mc Pillow median "
             "cut, oct Pillow fast octree, im ImageMagick).", ""]
    for dither in (False, True):
        cols = []
        for label, colors, _, _ in settings:
            subset = [r for r in rows if r["setting"] == label and r["dither"] == dither
                      and r["psnr"] is not None]
            ours = {r["image"]: r for r in subset if r["peer"] == "ours"}
            peers = [r for r in subset if r["peer"] in SHORT]
            if ours and peers:
                cols.append((colors, ours, peers))
        if not cols:
            continue
        lines += [f"#### {'Floyd-Steinberg dithering' if dither else 'No dithering'}", "",
                  "| image | " + " | ".join(f"{c} colours" for c, _, _ in cols) + " |",
                  "|---|" + "---|" * len(cols)]
        images = sorted({i for _, ours, _ in cols for i in ours})
        counts = [[0, 0, 0, 0.0, 0.0] for _ in cols]  # PSNR, dE, either, worst dB, worst dE
        for image in images:
            cells = []
            for k, (_, ours, peers) in enumerate(cols):
                mine = [r for r in peers if r["image"] == image]
                if image not in ours or not mine:
                    cells.append("n/a")
                    continue
                o = ours[image]
                best_p = max(mine, key=lambda r: r["psnr"])
                best_d = min(mine, key=lambda r: r["de2000"])
                dp = o["psnr"] - best_p["psnr"]
                dd = best_d["de2000"] - o["de2000"]
                if dp == float("inf") or dp != dp:
                    dp = 0.0
                cell = f"{dp:+.2f}" + (f" {SHORT[best_p['peer']]}" if dp < 0 else "")
                cell += f" / {dd:+.3f}" + (f" {SHORT[best_d['peer']]}" if dd < 0 else "")
                if dp < 0 or dd < 0:
                    cell = f"**{cell}**"
                counts[k][0] += dp < 0
                counts[k][1] += dd < 0
                counts[k][2] += dp < 0 or dd < 0
                counts[k][3] = min(counts[k][3], dp)
                counts[k][4] = min(counts[k][4], dd)
                cells.append(cell)
            lines.append(f"| {image} | " + " | ".join(cells) + " |")
        lines.append("| images where a peer is better: PSNR / dE2000 / either (worst) | " +
                     " | ".join(f"{a} / {b} / {c} ({w:+.2f} dB, {v:+.3f})"
                                for a, b, c, w, v in counts) + " |")
        lines.append("")
    return lines


def report(rows, settings_by_task, peer_names, has_ours, header, palettes):
    lines = header + [""]
    if has_ours and settings_by_task[0][1]:
        lines += targets_table([r for r in rows if r["task"] == "reduce"], settings_by_task[0][1])
        lines += margins_table([r for r in rows if r["task"] == "reduce"], settings_by_task[0][1])
    problems = [r for r in rows if not r["status"].startswith("ok")]
    for task, settings in settings_by_task:
        if not settings:
            continue
        if task == "reduce":
            lines += ["### Colour reduction", ""]
        else:
            lines += ["### Mapping onto a fixed palette", ""]
            for label, _, _, _ in settings:
                lines.append(f"- {label}: {palettes[label][2]}")
            lines.append("")
        lines += summary_tables([r for r in rows if r["task"] == task], task, settings,
                                peer_names, has_ours)
    if problems:
        lines += ["### Failures and violations", ""]
        for r in problems:
            lines.append(f"- {r['image']}, {r['task']} {r['setting']}, "
                         f"{'dithered' if r['dither'] else 'not dithered'}, {r['peer']}: "
                         f"{r['status']}")
        lines.append("")
    return lines


def reuse_rows(paths, rows, originals, settings):
    """The rows of earlier runs' CSVs (paths, comma-separated; the first
    one holding a row wins) for the images and settings of this run and the
    peers it did not run, marked reused."""
    have = {(r["task"], r["setting"], r["image"], r["peer"], r["dither"]) for r in rows}
    names = {o.name for o in originals}
    labels = {s[0] for s in settings}
    out = []
    for path in paths.split(","):
        with open(path, newline="") as source:
            found = list(csv.DictReader(source))
        for r in found:
            r["dither"] = r["dither"] == "True"
            key = (r["task"], r["setting"], r["image"], r["peer"], r["dither"])
            if key in have or r["image"] not in names or r["setting"] not in labels:
                continue
            for field in ("psnr", "de2000", "cpu_ms"):
                r[field] = float(r[field]) if r[field] not in ("", None) else None
            r["colors"] = int(r["colors"])
            r["reused"] = True
            have.add(key)
            out.append(r)
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--work", default="/tmp/quantize-bench")
    parser.add_argument("--ours")
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "default"))
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--colors")
    parser.add_argument("--images")
    parser.add_argument("--no-map", action="store_true")
    parser.add_argument("--no-reduce", action="store_true")
    parser.add_argument("--reference", action="store_true")
    parser.add_argument("--peers")
    parser.add_argument("--reuse")
    parser.add_argument("--markdown")
    parser.add_argument("--csv")
    args = parser.parse_args()

    def log(text):
        print(text, file=sys.stderr, flush=True)

    if args.ours:
        ours = shlex.split(args.ours)
    else:
        default = os.path.join(args.build, "bench", "quantize_png")
        ours = [default] if os.access(default, os.X_OK) else None
        if not ours:
            log(f"no {default}: ours left out (build it, or name a command with --ours)")

    catalogue = IMAGES + QUICK_EXTRA
    wanted = QUICK_IMAGES if args.quick else [n for n, _, _ in IMAGES]
    if args.images:
        wanted = args.images.split(",")
    known = {n: (h, s) for n, h, s in catalogue}
    colours = [int(c) for c in (args.colors or ("256,16" if args.quick else "256,64,16,4"))
               .split(",")]

    os.makedirs(args.work, exist_ok=True)
    originals = []
    for name in wanted:
        if name not in known:
            raise SystemExit(f"unknown image {name}; known: {', '.join(known)}")
        try:
            path = make_image(name, known[name][0], args.work)
        except Exception as error:
            log(f"image {name} left out: {type(error).__name__}: {error}")
            continue
        originals.append(Original(name, path, known[name][1]))
    palettes = make_palettes(args.work)
    measures_path = os.path.join(args.work, "measures.json")
    if os.path.exists(measures_path):
        with open(measures_path) as cache:
            MEASURES.update(json.load(cache))
    chosen = set(PEER_KEYS.values()) if not args.peers else set(args.peers.split(","))
    chosen.discard("none")
    if chosen - set(PEER_KEYS.values()):
        raise SystemExit(f"unknown peers {chosen - set(PEER_KEYS.values())}; "
                         f"known: {', '.join(PEER_KEYS.values())}")

    def pick(peers):
        return [p for p in peers if PEER_KEYS[p.name] in chosen]

    map_names = [] if args.no_map else (["ega16"] if args.quick else list(palettes))

    load_before = load_average()
    log(f"{len(originals)} images, colours {colours}, palettes {map_names}, repeat {args.repeat}; "
        f"load {load_before}")
    reduce_settings = [] if args.no_reduce else [(str(c), c, None, None) for c in colours]
    map_settings = [(p, len(palettes[p][1]), palettes[p][0], palettes[p][1]) for p in map_names]
    started = time.time()
    rows = run_task(originals, reduce_settings, pick(reduction_peers(ours)), args.repeat,
                    args.work, "reduce", log)
    if map_settings:
        rows += run_task(originals, map_settings, pick(mapping_peers(ours)), args.repeat,
                         args.work, "map", log)
    if args.reference:
        rows += kmeans_reference(originals, reduce_settings, args.work, log)
        rows += nearest_reference(originals, map_settings, args.work, log)
    load_after = load_average()
    with open(measures_path + ".part", "w") as cache:
        json.dump(MEASURES, cache)
    os.replace(measures_path + ".part", measures_path)
    reused = reuse_rows(args.reuse, rows, originals, reduce_settings + map_settings) \
        if args.reuse else []
    rows += reused

    peer_names = ["ours", "pngquant", "Pillow median cut", "Pillow fast octree", "ImageMagick",
                  "k-means (reference)", "nearest (reference)"]
    command = "/usr/bin/python3 bench/quantize_compare.py " + " ".join(
        shlex.quote(a) for a in sys.argv[1:])
    header = [
        "## Colour reduction: ours against its peers", "",
        f"    {command}", "",
        f"- processor: {processor()}",
        f"- load average (1, 5, 15 min): {load_before} before, {load_after} after; "
        f"{time.time() - started:.0f} s",
        f"- ours: `{' '.join(ours) if ours else 'left out'}`",
        f"- pngquant: {subprocess.run(['pngquant', '--version'], capture_output=True, text=True).stdout.strip()}; "
        f"Pillow {Image.__version__}; "
        f"{subprocess.run(['convert', '-version'], capture_output=True, text=True).stdout.splitlines()[0].replace('Version: ', '')}",
        f"- {len(originals)} images; each figure is over them: the median image's PSNR and "
        f"dE2000, and of CPU times the median over images of each image's median of "
        f"{args.repeat} runs. Commands' CPU time includes PNG decode and encode, Pillow's is "
        f"the quantize calls alone.",
    ] + ([f"- the rows marked * come from earlier runs ({args.reuse}), measured between "
          f"{min(r['measured'][:16] for r in reused)} and {max(r['measured'][:16] for r in reused)}"
          f" (each row's load in the CSV), not paired with this run's: their CPU / ours ratio "
          f"is across runs."]
         if reused else []) + [
        "",
        "| image | size | source |", "|---|---|---|",
    ] + [f"| {o.name} | {o.size[0]}x{o.size[1]} | {o.source} |" for o in originals]
    lines = report(rows, [("reduce", reduce_settings), ("map", map_settings)], peer_names,
                   any(r["peer"] == "ours" for r in rows), header, palettes)
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    if args.markdown:
        with open(args.markdown, "w") as out:
            out.write(text)
    if args.csv:
        fields = ["measured", "image", "source", "task", "setting", "colors", "dither", "peer", "status",
                  "colours_used", "indexed", "psnr", "de2000", "cpu_ms", "cpu_ms_runs"]
        with open(args.csv, "w", newline="") as out:
            writer = csv.DictWriter(out, fieldnames=fields)
            writer.writeheader()
            for r in rows:
                writer.writerow({k: (f"{r[k]:.4f}" if isinstance(r[k], float) else r[k])
                                 for k in fields})


if __name__ == "__main__":
    main()
