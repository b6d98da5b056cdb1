#!/usr/bin/python3
"""Draws every picture the module carries and writes it into resources/art/.

Nothing here comes from outside: the scene (a lake below snow-capped
mountains, a cottage, trees, a sailboat, a fence and meadow flowers) is drawn
from geometry, the effect previews are computed from it, and the skin
(backgrounds, preview frame, logos, radio strip, cursor, icon) is drawn in the
two looks of the page, "Lustre" and "Classic".

The output is deterministic: shapes are rasterised here with numpy, colour
reduction is integer arithmetic, and PNG, BMP, ICO and CUR files are written
byte by byte. Only the JPEG encoding is left to Pillow (libjpeg), so a
regeneration compares equal byte for byte with the same Pillow/libjpeg
build; tools/check-artwork.sh does that comparison.

    /usr/bin/python3 resources/make_artwork.py [--out DIR] [--sample-skin DIR]

--sample-skin writes, instead of the module's artwork, the pictures of the
sample OEM skin in docs/sample-skin (a skin of its own, "Harbour", and the
broken files of its faulty twin that the skin checker is tested on).
"""
import argparse
import io
import os
import struct
import sys
import zlib

import numpy as np
from PIL import Image

# The build the committed pictures were made with; tools/check-artwork.sh
# compares bytes only when the running build matches.
MADE_WITH_PILLOW = "9.4.0"

SS = 4  # supersampling of the rasteriser, per axis

KEY = (255, 0, 255)          # transparent colour of frame and logo pictures
RADIO_KEY = (128, 0, 128)    # transparent colour of the radio strip


# ---------------------------------------------------------------------------
# Small numeric helpers
# ---------------------------------------------------------------------------

def hash_noise(h, w, seed):
    """White noise in [0, 1) from an integer hash of the pixel position."""
    y, x = np.mgrid[0:h, 0:w].astype(np.uint64)
    v = (x * np.uint64(374761393) + y * np.uint64(668265263) + np.uint64(seed) * np.uint64(2246822519))
    v &= np.uint64(0xFFFFFFFF)
    v = (v ^ (v >> np.uint64(13))) * np.uint64(1274126177)
    v &= np.uint64(0xFFFFFFFF)
    v = v ^ (v >> np.uint64(16))
    return (v & np.uint64(0xFFFF)).astype(np.float64) / 65536.0


def lcg(seed):
    """A fixed pseudo-random sequence in [0, 1): the same on every platform."""
    state = seed & 0xFFFFFFFF
    while True:
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        yield state / 4294967296.0


def gauss_kernel(sigma):
    r = max(1, int(np.ceil(sigma * 3)))
    x = np.arange(-r, r + 1, dtype=np.float64)
    k = np.exp(-(x * x) / (2 * sigma * sigma))
    return k / k.sum()


def convolve_axis(a, k, axis):
    r = len(k) // 2
    pad = [(0, 0)] * a.ndim
    pad[axis] = (r, r)
    p = np.pad(a, pad, mode="edge")
    out = np.zeros_like(a, dtype=np.float64)
    n = a.shape[axis]
    for i, kv in enumerate(k):
        sl = [slice(None)] * a.ndim
        sl[axis] = slice(i, i + n)
        out += kv * p[tuple(sl)]
    return out


def blur(a, sigma):
    if sigma <= 0:
        return a.astype(np.float64)
    k = gauss_kernel(sigma)
    return convolve_axis(convolve_axis(a.astype(np.float64), k, 0), k, 1)


def to_u8(a):
    return np.clip(np.floor(a + 0.5), 0, 255).astype(np.uint8)


def lum(img):
    return img[..., 0] * 0.299 + img[..., 1] * 0.587 + img[..., 2] * 0.114


def downsample(a, f=SS):
    h, w = a.shape[0] // f, a.shape[1] // f
    return a.reshape(h, f, w, f, *a.shape[2:]).mean(axis=(1, 3))


def lerp(c0, c1, t):
    c0 = np.asarray(c0, dtype=np.float64)
    c1 = np.asarray(c1, dtype=np.float64)
    t = np.asarray(t, dtype=np.float64)[..., None]
    return c0 + (c1 - c0) * t


def ramp(t, stops):
    """Colour at t (array in [0, 1]) along [(t0, colour), (t1, colour), ...]."""
    t = np.clip(np.asarray(t, dtype=np.float64), 0, 1)
    out = np.zeros(t.shape + (3,))
    for (ta, ca), (tb, cb) in zip(stops[:-1], stops[1:]):
        m = (t >= ta) & (t <= tb)
        u = (t - ta) / max(tb - ta, 1e-9)
        out[m] = lerp(ca, cb, u)[m]
    return out


# ---------------------------------------------------------------------------
# Canvas: a supersampled float RGB picture with coverage-mask painting
# ---------------------------------------------------------------------------

class Canvas:
    """Coordinates are in picture pixels; the grid is SS times finer."""

    def __init__(self, w, h, fill=(0, 0, 0)):
        self.w, self.h = w, h
        self.rgb = np.zeros((h * SS, w * SS, 3))
        self.rgb[:] = fill
        ys = (np.arange(h * SS) + 0.5) / SS
        xs = (np.arange(w * SS) + 0.5) / SS
        self.y, self.x = np.meshgrid(ys, xs, indexing="ij")

    def paint(self, mask, colour, alpha=1.0):
        # Blend only inside the mask's bounding box: most shapes are small.
        rows = np.flatnonzero(mask.any(axis=1))
        if len(rows) == 0:
            return
        cols = np.flatnonzero(mask.any(axis=0))
        box = (slice(rows[0], rows[-1] + 1), slice(cols[0], cols[-1] + 1))
        m = (mask[box].astype(np.float64) * alpha)[..., None]
        c = np.asarray(colour, dtype=np.float64)
        if c.ndim == 3:
            c = c[box]
        self.rgb[box] = self.rgb[box] * (1 - m) + c * m

    def result(self):
        return downsample(self.rgb)

    # shapes -----------------------------------------------------------------
    def ellipse(self, cx, cy, rx, ry):
        return ((self.x - cx) / rx) ** 2 + ((self.y - cy) / ry) ** 2 <= 1.0

    def rect(self, x0, y0, x1, y1):
        return (self.x >= x0) & (self.x < x1) & (self.y >= y0) & (self.y < y1)

    def rounded_rect(self, x0, y0, x1, y1, r):
        dx = np.maximum(np.maximum(x0 + r - self.x, self.x - (x1 - r)), 0)
        dy = np.maximum(np.maximum(y0 + r - self.y, self.y - (y1 - r)), 0)
        return self.rect(x0, y0, x1, y1) & (dx * dx + dy * dy <= r * r)

    def polygon(self, pts):
        """Even-odd fill of a small polygon."""
        inside = np.zeros(self.x.shape, dtype=bool)
        n = len(pts)
        # Only the bounding box is tested, which keeps big canvases cheap.
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        x0 = max(0, int(min(xs) * SS) - 1)
        x1 = min(self.x.shape[1], int(max(xs) * SS) + 2)
        y0 = max(0, int(min(ys) * SS) - 1)
        y1 = min(self.x.shape[0], int(max(ys) * SS) + 2)
        if x0 >= x1 or y0 >= y1:
            return inside
        px = self.x[y0:y1, x0:x1]
        py = self.y[y0:y1, x0:x1]
        sub = np.zeros(px.shape, dtype=bool)
        for i in range(n):
            ax, ay = pts[i]
            bx, by = pts[(i + 1) % n]
            if ay == by:
                continue
            cond = (ay > py) != (by > py)
            xcross = ax + (py - ay) * (bx - ax) / (by - ay)
            sub ^= cond & (px < xcross)
        inside[y0:y1, x0:x1] = sub
        return inside

    def line(self, ax, ay, bx, by, width):
        """A stroke with round ends."""
        dx, dy = bx - ax, by - ay
        ln2 = dx * dx + dy * dy
        t = np.clip(((self.x - ax) * dx + (self.y - ay) * dy) / ln2, 0, 1)
        qx = ax + t * dx - self.x
        qy = ay + t * dy - self.y
        return qx * qx + qy * qy <= (width / 2) ** 2


# ---------------------------------------------------------------------------
# The scene
# ---------------------------------------------------------------------------

def ridge(x, terms, base, amp):
    """Skyline height at x (scene units) from a fixed sum of sines."""
    y = np.zeros_like(x)
    for f, ph, a in terms:
        y += a * np.sin(x * f + ph)
    return base - amp * y


def draw_scene(w, h):
    """The landscape every preview shows. Scene units: height 1, width w/h;
    the composition is centred, so wider pictures show more at the sides."""
    c = Canvas(w, h)
    s = float(h)                    # one scene unit in pixels
    off = (w / s - 1.25) / 2        # centring shift of the 1.25-wide layout
    X = c.x / s - off               # scene coordinates of every sample
    Y = c.y / s

    def P(x, y):
        return ((x + off) * s, y * s)

    # Sky: deep blue above, warm haze at the horizon, a soft sun.
    c.rgb[:] = ramp(Y / 0.62, [(0.0, (40, 96, 178)), (0.45, (104, 160, 218)),
                               (0.8, (196, 214, 226)), (1.0, (246, 224, 192))])
    sun_x, sun_y = 1.02, 0.17
    d = np.sqrt((X - sun_x) ** 2 + (Y - sun_y) ** 2)
    c.paint(np.exp(-((d / 0.16) ** 2)), (255, 236, 196), 0.55)
    c.paint(d < 0.052, (255, 250, 232))

    # Clouds: clusters of soft ellipses, lit from the sun's side.
    clouds = [(0.18, 0.15, 0.9), (0.52, 0.09, 0.7), (0.80, 0.25, 0.55), (-0.15, 0.26, 0.6), (1.38, 0.12, 0.8)]
    for cx, cy, sc in clouds:
        m = np.zeros(c.x.shape)
        for dx, dy, rx, ry in [(-0.07, 0.01, 0.06, 0.025), (0.0, -0.012, 0.07, 0.035),
                               (0.07, 0.005, 0.055, 0.026), (0.02, 0.012, 0.1, 0.02)]:
            m = np.maximum(m, (((X - cx - dx * sc) / (rx * sc)) ** 2 + ((Y - cy - dy * sc) / (ry * sc)) ** 2 <= 1))
        soft = blur(downsample(m.astype(np.float64)), 0.8 * s / 160)
        soft = np.repeat(np.repeat(soft, SS, 0), SS, 1)
        shade = np.clip((Y - cy) / (0.04 * sc), -1, 1)
        col = lerp((255, 255, 255), (206, 214, 230), (shade + 1) / 2)
        c.paint(soft, col, 0.92)

    # Far range with snow caps.
    far = ridge(X, [(6.0, 0.9, 0.35), (13.0, 1.9, 0.16), (2.7, 0.2, 0.55), (23.0, 0.7, 0.06)], 0.43, 0.15)
    far_mask = Y >= far
    col = ramp((Y - 0.3) / 0.3, [(0.0, (132, 150, 186)), (1.0, (164, 178, 200))])
    c.paint(far_mask, col)
    snow_line = 0.37 + 0.012 * np.sin(X * 41.0) + 0.008 * np.sin(X * 97.0 + 1.0)
    snow = far_mask & (Y < snow_line)
    lit = np.sin(X * 7.0 + 0.4) * 0.5 + 0.5
    c.paint(snow, lerp((214, 224, 242), (252, 252, 255), lit))

    # Nearer wooded hills.
    near = ridge(X, [(5.0, 2.6, 0.4), (11.0, 0.3, 0.2), (2.3, 0.9, 0.5)], 0.585, 0.07)
    c.paint(Y >= near, ramp((Y - 0.5) / 0.15, [(0.0, (64, 108, 96)), (1.0, (44, 82, 64))]))

    # The lake, reflecting the sky with ripples and a glitter path under the sun.
    lake_top = 0.625
    lake = Y >= lake_top
    depth = (Y - lake_top) / 0.2
    c.paint(lake, ramp(depth, [(0.0, (150, 186, 214)), (0.5, (84, 132, 180)), (1.0, (54, 100, 150))]))
    ripple = (np.sin(Y * 520.0 + np.sin(X * 23.0) * 2.0) > 0.82) & lake
    c.paint(ripple, (196, 220, 238), 0.45)
    glitter = lake & (np.abs(X - sun_x) < 0.03 + 0.25 * depth * 0.3) & (np.sin(Y * 400.0 + X * 60.0) > 0.5)
    c.paint(glitter, (255, 244, 214), 0.75)
    # reflection of the far hills in the water
    refl = lake & (Y < lake_top + (lake_top - near) * 0.9 + 0.015)
    c.paint(refl, (56, 96, 96), 0.35)

    # Sailboat with its reflection.
    bx, by = 0.74, 0.70
    hull = c.polygon([P(bx - 0.075, by - 0.012), P(bx + 0.085, by - 0.012), P(bx + 0.06, by + 0.008),
                      P(bx - 0.055, by + 0.008)])
    c.paint(c.polygon([P(bx - 0.06, by + 0.01), P(bx + 0.065, by + 0.01), P(bx + 0.02, by + 0.05),
                       P(bx - 0.02, by + 0.05)]), (230, 236, 244), 0.25)
    c.paint(hull, (150, 40, 36))
    c.paint(c.line(*P(bx + 0.005, by - 0.013), *P(bx + 0.005, by - 0.17), 0.006 * s), (70, 50, 40))
    c.paint(c.polygon([P(bx + 0.012, by - 0.165), P(bx + 0.012, by - 0.02), P(bx + 0.085, by - 0.02)]),
            (250, 250, 246))
    c.paint(c.polygon([P(bx - 0.002, by - 0.14), P(bx - 0.002, by - 0.02), P(bx - 0.06, by - 0.02)]),
            (236, 204, 92))

    # Near shore and meadow, the left bank running up to the cottage.
    u = np.clip((X - 0.30) / 0.32, 0, 1)
    bank = 0.665 + 0.006 * np.sin(X * 17.0) + 0.16 * u * u * (3 - 2 * u)
    front = 0.80 + 0.025 * np.sin(X * 4.0 + 2.0)
    meadow = (Y >= front) | (Y >= bank)
    g = hash_noise(c.x.shape[0], c.x.shape[1], 7)
    grass = ramp((Y - 0.64) / 0.36, [(0.0, (128, 172, 70)), (0.5, (98, 150, 52)), (1.0, (62, 112, 38))])
    grass *= (0.9 + 0.18 * g)[..., None]
    c.paint(meadow, grass)
    edge = meadow & ~(np.roll(meadow, 6, axis=0))
    c.paint(edge, (214, 200, 150), 0.6)  # a thin sandy shore line

    # Cottage: cream walls, red roof, blue windows, a chimney.
    hx, hy = 0.17, 0.705
    walls = c.rect(*P(hx - 0.09, hy - 0.09), *P(hx + 0.09, hy))
    c.paint(walls, (240, 228, 200))
    c.paint(c.rect(*P(hx + 0.04, hy - 0.09), *P(hx + 0.09, hy)), (214, 198, 168))  # shaded side
    c.paint(c.rect(*P(hx + 0.045, hy - 0.165), *P(hx + 0.07, hy - 0.11)), (120, 70, 60))
    roof = c.polygon([P(hx - 0.11, hy - 0.085), P(hx, hy - 0.18), P(hx + 0.11, hy - 0.085)])
    c.paint(roof, (190, 52, 40))
    c.paint(c.polygon([P(hx, hy - 0.18), P(hx + 0.11, hy - 0.085), P(hx + 0.05, hy - 0.085)]), (150, 36, 30))
    for wx in (hx - 0.065, hx + 0.005):
        c.paint(c.rect(*P(wx, hy - 0.07), *P(wx + 0.04, hy - 0.035)), (250, 250, 250))
        c.paint(c.rect(*P(wx + 0.004, hy - 0.066), *P(wx + 0.036, hy - 0.039)), (70, 120, 180))
        c.paint(c.rect(*P(wx + 0.018, hy - 0.066), *P(wx + 0.022, hy - 0.039)), (250, 250, 250))
    c.paint(c.rect(*P(hx + 0.055, hy - 0.06), *P(hx + 0.08, hy)), (110, 66, 40))

    # A round tree beside the cottage.
    tx, ty = 0.40, 0.72
    c.paint(c.rect(*P(tx - 0.01, ty - 0.08), *P(tx + 0.01, ty)), (96, 64, 40))
    for dx, dy, r, col in [(-0.03, -0.13, 0.06, (40, 96, 44)), (0.03, -0.14, 0.06, (44, 104, 46)),
                           (0.0, -0.18, 0.065, (52, 116, 52)), (0.015, -0.17, 0.035, (92, 156, 70))]:
        c.paint(c.ellipse(*P(tx + dx, ty + dy), r * s, r * s * 0.95), col)

    # Pines on the right bank.
    for px, py, sc in [(1.06, 0.80, 1.0), (1.15, 0.81, 0.8), (0.98, 0.82, 0.7), (1.24, 0.80, 1.1)]:
        c.paint(c.rect(*P(px - 0.008 * sc, py - 0.03 * sc), *P(px + 0.008 * sc, py + 0.005)), (84, 56, 36))
        for k in range(3):
            top = py - (0.14 + 0.045 * k) * sc
            base = py - (0.025 + 0.045 * k) * sc
            half = (0.055 - 0.012 * k) * sc
            c.paint(c.polygon([P(px - half, base), P(px, top), P(px + half, base)]), (28, 78, 52))
            c.paint(c.polygon([P(px, top), P(px + half, base), P(px + half * 0.3, base)]), (22, 62, 42))

    # Fence along the front.
    for k in range(-6, 16):
        fx = 0.04 + k * 0.085
        c.paint(c.rect(*P(fx - 0.008, 0.845), *P(fx + 0.008, 0.935)), (236, 232, 222))
        c.paint(c.polygon([P(fx - 0.008, 0.845), P(fx, 0.835), P(fx + 0.008, 0.845)]), (236, 232, 222))
    for ry in (0.865, 0.905):
        c.paint(c.rect(*P(-2, ry), *P(3, ry + 0.01)), (208, 200, 186))

    # Flowers in the foreground grass.
    rnd = lcg(12345)
    colours = [(232, 60, 60), (250, 210, 60), (250, 250, 250), (170, 90, 200), (250, 140, 40)]
    for _ in range(int(140 * w / h)):
        fx = next(rnd) * (w / s) - off
        fy = 0.84 + next(rnd) * 0.16
        col = colours[int(next(rnd) * len(colours))]
        r = (0.004 + 0.004 * next(rnd)) * s * (0.6 + fy)
        c.paint(c.ellipse(*P(fx, fy), r, r), col)
    return c.result()


# ---------------------------------------------------------------------------
# The effects
# ---------------------------------------------------------------------------

def shift(a, dy, dx):
    h, w = a.shape[:2]
    p = np.pad(a, ((abs(dy), abs(dy)), (abs(dx), abs(dx))) + ((0, 0),) * (a.ndim - 2), mode="edge")
    return p[abs(dy) + dy:abs(dy) + dy + h, abs(dx) + dx:abs(dx) + dx + w]


def emboss(img, gain, dist, tint):
    """Relief: the luminance slope towards the light, on mid grey."""
    L = blur(lum(img), 0.6)
    d = shift(L, -dist, -dist) - shift(L, dist, dist)
    g = 128 + gain * d
    out = np.stack([g, g, g], axis=-1)
    return out * (1 - tint) + (img * 0.5 + 64) * tint


def neon_edges(img, strength):
    """Edges in their own colour, brightened to glow over a dark ground."""
    L = blur(lum(img), 0.7)
    gx = shift(L, 0, 1) - shift(L, 0, -1)
    gy = shift(L, 1, 0) - shift(L, -1, 0)
    mag = np.sqrt(gx * gx + gy * gy)
    e = np.clip(mag / (70.0 - 22.0 * strength), 0, 1) ** (1.1 - 0.25 * strength)
    # pure hue of the picture, for the colour of the light
    mx = img.max(axis=-1, keepdims=True)
    mn = img.min(axis=-1, keepdims=True)
    hue = (img - mn) / np.maximum(mx - mn, 24.0)
    hue = 0.25 + 0.75 * hue
    hue = hue / np.maximum(hue.max(axis=-1, keepdims=True), 1e-6) * 255
    ground = img * (0.10 - 0.03 * strength)
    core = hue * e[..., None] * (0.75 + 0.25 * strength)
    glow = np.stack([blur(core[..., k], 1.2 + 1.3 * strength) for k in range(3)], axis=-1)
    white = (e ** 2)[..., None] * (40 + 70 * strength)
    return ground + core + glow * (0.6 + 0.9 * strength) + white


def soft_focus(img, sigma):
    return np.stack([blur(img[..., k], sigma) for k in range(3)], axis=-1)


def sharpen(img, amount, sigma):
    return img + amount * (img - soft_focus(img, sigma))


# Coarse quantisation of 8x8 blocks, as a heavily compressed video frame.
def _dct_matrix():
    m = np.zeros((8, 8))
    for k in range(8):
        for n in range(8):
            a = np.sqrt(1 / 8) if k == 0 else np.sqrt(2 / 8)
            m[k, n] = a * np.cos(np.pi * (2 * n + 1) * k / 16)
    return m


LUMA_Q = np.array([
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55, 14, 13, 16, 24, 40, 57, 69, 56,
    14, 17, 22, 29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99], dtype=np.float64).reshape(8, 8)


def block_compress(plane, scale):
    h, w = plane.shape
    H, W = (h + 7) // 8 * 8, (w + 7) // 8 * 8
    p = np.pad(plane, ((0, H - h), (0, W - w)), mode="edge") - 128
    D = _dct_matrix()
    blocks = p.reshape(H // 8, 8, W // 8, 8).transpose(0, 2, 1, 3)
    coef = D @ blocks @ D.T
    q = LUMA_Q * scale
    coef = np.floor(coef / q + 0.5) * q
    back = D.T @ coef @ D
    return back.transpose(0, 2, 1, 3).reshape(H, W)[:h, :w] + 128


def blocky(img):
    """Colour reduced to 16x16 blocks and luminance quantised in 8x8 blocks:
    what a starved video stream looks like."""
    y = lum(img)
    cb = img[..., 2] - y
    cr = img[..., 0] - y
    y2 = block_compress(y, 5.0)
    h, w = y.shape
    H, W = (h + 15) // 16 * 16, (w + 15) // 16 * 16

    def chroma(c):
        p = np.pad(c, ((0, H - h), (0, W - w)), mode="edge")
        m = p.reshape(H // 16, 16, W // 16, 16).mean(axis=(1, 3))
        m = np.floor(m / 10 + 0.5) * 10
        return np.repeat(np.repeat(m, 16, 0), 16, 1)[:h, :w]

    cb2, cr2 = chroma(cb), chroma(cr)
    r = y2 + cr2
    b = y2 + cb2
    g = (y2 - 0.299 * r - 0.114 * b) / 0.587
    return np.stack([r, g, b], axis=-1)


def deblock(img):
    """Smoothing across the block grid, stronger right at the block edges,
    held back where the picture has a real edge."""
    h, w = img.shape[:2]
    yy, xx = np.mgrid[0:h, 0:w]
    dist = np.minimum(np.minimum(xx % 8, 7 - xx % 8), np.minimum(yy % 8, 7 - yy % 8))
    near_edge = np.clip(1.0 - dist / 4.0, 0, 1)
    soft = soft_focus(img, 2.2)
    softer = soft_focus(img, 4.0)
    L = lum(soft)
    gx = shift(L, 0, 2) - shift(L, 0, -2)
    gy = shift(L, 2, 0) - shift(L, -2, 0)
    real = np.clip(np.sqrt(gx * gx + gy * gy) / 60.0, 0, 1)
    base = soft * (1 - near_edge[..., None] * 0.5) + softer * (near_edge[..., None] * 0.5)
    keep = real[..., None] * 0.45
    out = base * (1 - keep) + img * keep
    # the colour of a starved stream comes in 16-pixel blocks: spread it wider
    y = lum(out)
    chroma = soft_focus(out - y[..., None], 5.0)
    out = y[..., None] + chroma
    return sharpen(out, 0.35, 1.0)


# ---------------------------------------------------------------------------
# Colour reduction (integer arithmetic only, so it is exact everywhere)
# ---------------------------------------------------------------------------

def nearest(pix, pal):
    """Index of the nearest palette colour for every pixel (int arithmetic)."""
    pix = pix.reshape(-1, 3).astype(np.int32)
    pal = np.asarray(pal, dtype=np.int32)
    best = np.zeros(len(pix), dtype=np.int32)
    bestd = np.full(len(pix), 1 << 30, dtype=np.int32)
    for i, c in enumerate(pal):
        d = ((pix - c) ** 2 * np.array([3, 4, 2], dtype=np.int32)).sum(axis=1)
        better = d < bestd
        best[better] = i
        bestd[better] = d[better]
    return best


def kmeans_palette(pix, n, fixed=(), iters=8):
    """A palette of n colours for the picture: the fixed colours first, then
    means of the clusters that a few integer k-means rounds settle on."""
    flat = pix.reshape(-1, 3).astype(np.int64)
    if len(flat) > 50000:
        flat = flat[:: len(flat) // 50000]
    # start from colours spread along the luminance order
    keyv = flat[:, 0] * 299 + flat[:, 1] * 587 + flat[:, 2] * 114
    order = np.argsort(keyv * 4096 + np.arange(len(flat)) % 4096, kind="stable")
    free = n - len(fixed)
    seeds = flat[order[(np.arange(free) * len(flat)) // free + len(flat) // (2 * free)]]
    pal = np.concatenate([np.asarray(fixed, dtype=np.int64).reshape(-1, 3), seeds])
    for _ in range(iters):
        idx = nearest(flat, pal)
        for j in range(len(fixed), n):
            m = idx == j
            cnt = int(m.sum())
            if cnt:
                pal[j] = (flat[m].sum(axis=0) + cnt // 2) // cnt
    return [tuple(int(v) for v in c) for c in pal]


def ordered_dither(img, levels):
    """Bayer 4x4 dither to a few levels per channel (for 256-colour screens)."""
    bayer = np.array([[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]) / 16.0 - 0.5
    h, w = img.shape[:2]
    t = np.tile(bayer, (h // 4 + 1, w // 4 + 1))[:h, :w][..., None]
    step = 255.0 / (levels - 1)
    return np.clip(np.floor(img / step + 0.5 + t * 0.9), 0, levels - 1) * step


# ---------------------------------------------------------------------------
# File writers
# ---------------------------------------------------------------------------

def png_bytes(indices, palette, bits=8):
    """A non-interlaced palette PNG, filter 0 on every row, zlib level 9."""
    h, w = indices.shape
    idx = indices.astype(np.uint8)
    if bits == 4:
        if w % 2:
            idx = np.pad(idx, ((0, 0), (0, 1)))
        idx = (idx[:, 0::2] << 4) | idx[:, 1::2]
    raw = b"".join(b"\x00" + idx[r].tobytes() for r in range(h))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", w, h, bits, 3, 0, 0, 0)
    plte = b"".join(bytes(c) for c in palette)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"PLTE", plte)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def palette_png(img, ncolours, fixed=(), bits=8, palette=None):
    pix = to_u8(img)
    if palette is None:
        palette = kmeans_palette(pix, ncolours, fixed)
    idx = nearest(pix, palette).reshape(pix.shape[:2])
    return png_bytes(idx, palette, bits), idx, palette


def jpeg_bytes(img, progressive, subsampling, quality=90):
    im = Image.fromarray(to_u8(img), "RGB")
    buf = io.BytesIO()
    im.save(buf, "JPEG", quality=quality, subsampling=subsampling, progressive=progressive,
            optimize=False, dpi=(96, 96))
    return buf.getvalue()


def dib_rows(idx, bits):
    """Bottom-up rows packed at 1, 4 or 8 bits, each padded to 4 bytes."""
    h, w = idx.shape
    out = []
    for r in range(h - 1, -1, -1):
        row = idx[r].astype(np.uint8)
        if bits == 8:
            b = row.tobytes()
        elif bits == 4:
            rr = np.pad(row, (0, w % 2))
            b = ((rr[0::2] << 4) | rr[1::2]).astype(np.uint8).tobytes()
        else:
            b = np.packbits(row.astype(np.uint8)).tobytes()
        out.append(b + b"\x00" * ((-len(b)) % 4))
    return b"".join(out)


def bmp_bytes(idx, palette, bits):
    h, w = idx.shape
    pal = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette)
    pixels = dib_rows(idx, bits)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(pixels), 2835, 2835, len(palette), 0)
    off = 14 + len(info) + len(pal)
    return b"BM" + struct.pack("<IHHI", off + len(pixels), 0, 0, off) + info + pal + pixels


def and_mask(opaque):
    """The AND mask of an icon or cursor: 1 where the screen shows through."""
    return dib_rows((~opaque).astype(np.uint8), 1)


def icon_image_32(rgba):
    h, w = rgba.shape[:2]
    bgra = rgba[::-1][..., [2, 1, 0, 3]].astype(np.uint8).tobytes()
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, 0, 0, 0, 0, 0)
    return info + bgra + and_mask(rgba[..., 3] >= 128)


def icon_image_indexed(idx, palette, opaque, bits):
    h, w = idx.shape
    pal = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette)
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bits, 0, 0, 0, 0, 0, 0)
    return info + pal + dib_rows(np.where(opaque, idx, 0), bits) + and_mask(opaque)


def icon_dir(kind, images):
    """kind 1: icon, images (w, h, colours, bits, data); kind 2: cursor, with
    the hot spot in place of planes and bit count."""
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    for w, h, colours, a, b, data in images:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, colours % 256, 0, a, b, len(data), offset)
        offset += len(data)
    return out + b"".join(im[5] for im in images)


# ---------------------------------------------------------------------------
# Skin: backgrounds, preview frame, logos
# ---------------------------------------------------------------------------

LOOKS = {
    # top, bottom of the page; panel; accent; accent light; ink
    "lustre": dict(top=(236, 241, 247), bottom=(190, 203, 219), panel=(250, 252, 255), accent=(34, 98, 170),
                   accent2=(92, 170, 230), ink=(40, 52, 70), metal=((250, 252, 255), (176, 188, 204))),
    "classic": dict(top=(224, 220, 210), bottom=(200, 194, 180), panel=(236, 233, 226), accent=(10, 36, 106),
                    accent2=(166, 124, 52), ink=(40, 36, 30), metal=((236, 232, 224), (150, 144, 132))),
}

PAGE_DLU = (252, 221)
BK_SIZE = (460, 429)


def dlu_box(x, y, w, h):
    sx = BK_SIZE[0] / PAGE_DLU[0]
    sy = BK_SIZE[1] / PAGE_DLU[1]
    return x * sx, y * sy, (x + w) * sx, (y + h) * sy


def background(look, eight_bit):
    """The page: a quiet ground that leaves the controls the stage, a sheen
    and sweeping lines in the "Lustre" look, a linen weave in the "Classic"
    one, and a glow under the logo in the bottom right corner."""
    L = LOOKS[look]
    W, H = BK_SIZE
    c = Canvas(W, H)
    c.rgb[:] = lerp(L["top"], L["bottom"], c.y / H)
    lx, ly, lx1, ly1 = dlu_box(193, 164, 57, 52)
    glow = np.exp(-(((c.x - (lx + lx1) / 2) / 90) ** 2 + ((c.y - (ly + ly1) / 2) / 80) ** 2))
    if look == "lustre":
        d = (c.x * 0.55 + c.y) / H
        c.paint(np.exp(-((d - 0.42) / 0.25) ** 2), (255, 255, 255), 0.6)
        c.paint(glow, (255, 255, 255), 0.7)
        # three arcs sweeping up from the bottom left towards the logo
        for r, a, wdt in [(560, 0.55, 1.4), (600, 0.35, 1.0), (650, 0.2, 3.0)]:
            dist = np.abs(np.sqrt((c.x + 60) ** 2 + (c.y - 980) ** 2) - r)
            c.paint(np.clip(1 - dist / wdt, 0, 1), L["accent2"], a)
        if not eight_bit:
            streak = blur(hash_noise(1, c.x.shape[1], 3), 6.0)[0]
            c.rgb += ((streak - 0.5) * 9)[None, :, None]
    else:
        c.paint(glow, (246, 243, 236), 0.8)
        # an engraved double rule across the top, as on a printed panel
        for y, col in [(3.0, (168, 160, 146)), (4.0, (250, 248, 242))]:
            c.paint(c.rect(0, y, W, y + 1), col, 0.8)
        if not eight_bit:
            c.rgb += ((np.sin(c.x * 1.6) * np.sin(c.y * 1.6)) * 3.0)[..., None]
    img = c.result()
    if eight_bit:
        # flat ramps with an ordered dither: it stays clean on a 256-colour screen
        img = ordered_dither(img, 8)
        return palette_png(img, 64)[0]
    return palette_png(img, 256)[0]


def blur_mask(mask, sigma):
    small = blur(downsample(mask.astype(np.float64)), sigma)
    return np.repeat(np.repeat(small, SS, 0), SS, 1)


def keyed(c, coverage_ss, bg):
    """Final picture over a plain background, with the key colour wherever
    the shape covers less than half a pixel: keyed pictures must not fringe."""
    img = c.result()
    cov = downsample(coverage_ss.astype(np.float64))
    img = img * np.clip(cov * 1.0, 0, 1)[..., None] + np.asarray(bg, dtype=np.float64) * (1 - np.clip(cov, 0, 1))[..., None]
    # pixels that are part of the shape take their own colour unmixed from the key
    out = to_u8(img)
    out[cov < 0.5] = KEY
    return out


def frame(look, sixteen):
    """A small monitor: bezel around the preview window, a stand below."""
    L = LOOKS[look]
    W, H = 176, 168
    x0, y0, w, h = 10, 11, 156, 115
    c = Canvas(W, H, KEY)
    hi, lo = L["metal"]
    body = c.rounded_rect(1, 1, W - 1, y0 + h + 18, 9)
    neck = c.polygon([(W / 2 - 14, y0 + h + 17), (W / 2 + 14, y0 + h + 17), (W / 2 + 9, H - 11),
                      (W / 2 - 9, H - 11)])
    foot = c.rounded_rect(W / 2 - 46, H - 12, W / 2 + 46, H - 2, 5)
    shape = body | neck | foot
    c.paint(shape, lerp(hi, lo, c.y / H))
    c.paint(neck, lo, 0.55)
    c.paint(foot, lerp(hi, lo, (c.y - (H - 12)) / 10))
    if look == "lustre":
        gloss = body & (c.y < y0 + 0.45 * (h + 18))
        c.paint(gloss, (255, 255, 255), 0.35)
        c.paint(body & ~c.rounded_rect(2, 2, W - 2, y0 + h + 17, 8), L["accent"], 0.45)
    else:
        c.paint(body & ~c.rounded_rect(2.5, 2.5, W - 1, y0 + h + 18, 9), (255, 255, 255), 0.9)
        c.paint(body & ~c.rounded_rect(1, 1, W - 2.5, y0 + h + 16.5, 9), (120, 114, 104), 0.9)
    # recessed screen
    c.paint(c.rect(x0 - 3, y0 - 3, x0 + w + 3, y0 + h + 3), (60, 66, 78))
    c.paint(c.rect(x0 - 2, y0 - 2, x0 + w + 2, y0 + h + 2), (24, 28, 36))
    c.paint(c.rect(x0, y0, x0 + w, y0 + h), (8, 10, 14))
    # power light and brand marks on the chin
    chin = y0 + h + 9
    c.paint(c.ellipse(W - 20, chin, 2.6, 2.6), (40, 150, 240))
    c.paint(c.ellipse(W - 20.6, chin - 0.6, 1.0, 1.0), (220, 240, 255))
    c.paint(c.rounded_rect(W / 2 - 22, chin - 1, W / 2 + 22, chin + 1, 1), L["accent"], 0.35)
    bg = L["panel"]
    out = keyed(c, shape, bg)
    if sixteen:
        fixed = [KEY]
        pal = kmeans_palette(out[(out != KEY).any(axis=-1)].reshape(-1, 1, 3), 15)
        pal = fixed + pal
        return png_bytes(nearest(out, pal).reshape(H, W), pal, 4)
    pal = [KEY] + kmeans_palette(out[(out != KEY).any(axis=-1)].reshape(-1, 1, 3), 127)
    return png_bytes(nearest(out, pal).reshape(H, W), pal, 8)


def logo(look, eight_bit):
    """The emblem: a round badge with the letters Qx over three signal waves
    (red, green, blue), the picture's own colours."""
    L = LOOKS[look]
    W, H = 80, (70 if look == "lustre" else 69)
    c = Canvas(W, H, KEY)
    cx, cy, r = 40, 31, 29
    disc = c.ellipse(cx, cy, r, r)
    if look == "lustre":
        c.paint(disc, lerp(L["accent2"], L["accent"], np.clip((c.y - cy + r) / (2 * r), 0, 1)))
        c.paint(disc & ~c.ellipse(cx, cy, r - 1.5, r - 1.5), (20, 60, 120))
    else:
        c.paint(disc, L["accent"])
        c.paint(disc & ~c.ellipse(cx, cy, r - 2, r - 2), L["accent2"])
    # three waves across the lower half
    for i, col in enumerate([(240, 80, 70), (110, 210, 110), (110, 170, 250)]):
        wave = np.abs(c.y - (cy + 12 + i * 3.2 + 2.2 * np.sin((c.x - cx) / 6.0 + i * 0.9))) < 0.9
        c.paint(wave & c.ellipse(cx, cy, r - 3, r - 3), col)
    # the letters: a Q (ring and tail) and a small x
    white = (255, 255, 255)
    qx, qy = cx - 8, cy - 4
    ring = c.ellipse(qx, qy, 11, 12) & ~c.ellipse(qx, qy, 6.4, 7.4)
    c.paint(ring | c.line(qx + 4, qy + 5, qx + 11, qy + 13, 4.2), white)
    x0, y0 = cx + 7, cy - 5
    c.paint(c.line(x0, y0, x0 + 10, y0 + 11, 3.6) | c.line(x0 + 10, y0, x0, y0 + 11, 3.6), white)
    if look == "lustre":
        c.paint(c.ellipse(cx, cy - 14, 21, 12) & disc, (255, 255, 255), 0.28)
    # the rule below the badge
    rule = c.rounded_rect(10, H - 5, W - 10, H - 2, 1.5)
    c.paint(rule, L["accent"])
    out = keyed(c, disc | rule, L["panel"])
    ncol = 95
    if eight_bit:
        shape = (out != KEY).any(axis=-1)
        out[shape] = to_u8(ordered_dither(out.astype(np.float64), 6))[shape]
        ncol = 31
    pal = [KEY] + kmeans_palette(out[(out != KEY).any(axis=-1)].reshape(-1, 1, 3), ncol)
    return png_bytes(nearest(out, pal).reshape(H, W), pal, 8)


# ---------------------------------------------------------------------------
# Radio strip, cursor, icon
# ---------------------------------------------------------------------------

RADIO_PALETTE = [
    RADIO_KEY, (0, 0, 0), (64, 72, 84), (108, 118, 132), (150, 160, 172), (188, 196, 206), (214, 220, 228),
    (232, 236, 242), (255, 255, 255), (20, 64, 128), (34, 98, 170), (70, 140, 210), (140, 196, 240),
    (196, 226, 250), (160, 168, 178), (248, 250, 252),
]


def radio_strip():
    cell = 13
    c = Canvas(cell * 4, cell, RADIO_KEY)
    for i in range(4):
        checked = i in (1, 3)
        pushed = i >= 2
        cx, cy = i * cell + 6.5, 6.5
        ring = c.ellipse(cx, cy, 6.3, 6.3)
        inner = c.ellipse(cx, cy, 5.1, 5.1)
        c.paint(ring, (64, 72, 84))
        top, bottom = ((188, 196, 206), (232, 236, 242)) if pushed else ((255, 255, 255), (214, 220, 228))
        c.paint(inner, lerp(top, bottom, (c.y - 1.5) / 10))
        if checked:
            c.paint(c.ellipse(cx, cy, 3.0, 3.0), (20, 64, 128) if pushed else (34, 98, 170))
            c.paint(c.ellipse(cx - 0.8, cy - 1.0, 1.2, 1.0), (140, 196, 240))
    img = c.result()
    cov = np.zeros((cell, cell * 4))
    for i in range(4):
        m = c.ellipse(i * cell + 6.5, 6.5, 6.3, 6.3)
        cov = np.maximum(cov, downsample(m.astype(np.float64)))
    # A crisp outline: a partly covered pixel is either key or ring, never a
    # blend of the two (the key would turn into a visible fringe).
    img[(cov >= 0.5) & (cov < 1)] = (64, 72, 84)
    idx = nearest(to_u8(img), RADIO_PALETTE).reshape(cell, cell * 4)
    idx[cov < 0.5] = 0
    return bmp_bytes(idx, RADIO_PALETTE, 4)


# A pointing hand, 32 x 32: '#' outline (black), '.' fill (white), the rest
# shows the screen. The hot spot is the fingertip.
HAND = [
    "      ##                        ",
    "     #..#                       ",
    "     #..#                       ",
    "     #..#                       ",
    "     #..#                       ",
    "     #..###                     ",
    "     #..#..###                  ",
    "     #..#..#..##                ",
    "     #..#..#..#.#               ",
    "  ## #..#..#..#..#              ",
    " #..##........#..#              ",
    " #...#...........#              ",
    "  #..#...........#              ",
    "  #..............#              ",
    "   #.............#              ",
    "   #............#               ",
    "    #...........#               ",
    "    #..........#                ",
    "     #.........#                ",
    "     #.........#                ",
    "     ###########                ",
]
HAND_HOTSPOT = (6, 0)


def hand_cursor():
    w = h = 32
    xor = np.zeros((h, w), dtype=np.uint8)
    opaque = np.zeros((h, w), dtype=bool)
    for y, row in enumerate(HAND):
        for x, ch in enumerate(row):
            if ch in "#.":
                opaque[y, x] = True
                xor[y, x] = 1 if ch == "." else 0
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 1, 0, 0, 0, 0, 2, 0)
    pal = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    data = info + pal + dib_rows(xor, 1) + and_mask(opaque)
    return icon_dir(2, [(w, h, 2, HAND_HOTSPOT[0], HAND_HOTSPOT[1], data)])


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def tab_icon_picture(n):
    """A small screen showing a mountain under a sun, on a stand."""
    f = n / 32.0
    c = Canvas(n, n, (0, 0, 0))
    body = c.rounded_rect(1 * f, 3 * f, 31 * f, 24 * f, 3 * f)
    stand = c.rect(13 * f, 24 * f, 19 * f, 28 * f) | c.rounded_rect(8 * f, 27 * f, 24 * f, 30 * f, 1.2 * f)
    c.paint(body | stand, lerp((232, 238, 246), (150, 164, 184), c.y / n))
    inner = c.rounded_rect(1.9 * f, 3.9 * f, 30.1 * f, 23.1 * f, 2.4 * f)
    c.paint(body & ~inner, (84, 96, 118))
    screen = c.rect(4 * f, 6 * f, 28 * f, 21 * f)
    c.paint(screen, lerp((40, 100, 190), (150, 200, 240), (c.y - 6 * f) / (15 * f)))
    c.paint(screen & c.ellipse(22 * f, 10 * f, 2.8 * f, 2.8 * f), (255, 224, 90))
    c.paint(screen & c.polygon([(4 * f, 21 * f), (13 * f, 10 * f), (21 * f, 21 * f)]), (60, 120, 80))
    c.paint(screen & c.polygon([(13 * f, 21 * f), (20 * f, 14 * f), (28 * f, 21 * f)]), (40, 96, 64))
    c.paint(screen & c.polygon([(11 * f, 12.5 * f), (13 * f, 10 * f), (15 * f, 12.5 * f)]), (250, 250, 250))
    shape = body | stand
    rgb = c.result()
    alpha = downsample(shape.astype(np.float64))
    return rgb, alpha


def tab_icon():
    images = []
    for n in (32, 16):
        rgb, alpha = tab_icon_picture(n)
        rgba = np.concatenate([to_u8(rgb), to_u8(alpha * 255)[..., None]], axis=-1)
        images.append((n, n, 0, 1, 32, icon_image_32(rgba)))
    for n in (32, 16):
        rgb, alpha = tab_icon_picture(n)
        opaque = alpha >= 0.5
        idx = nearest(to_u8(rgb), VGA16).reshape(n, n)
        images.append((n, n, 16, 1, 4, icon_image_indexed(idx, VGA16, opaque, 4)))
    return icon_dir(1, images)


# ---------------------------------------------------------------------------

def previews():
    """The preview pictures: name -> (array, progressive, subsampling)."""
    small = draw_scene(200, 160)
    big = draw_scene(470, 320)
    blk = blocky(big)
    return {
        "ef_none.jpg": (small, True, 2),
        "ef_emboss1.jpg": (emboss(small, 1.0, 1, 0.35), False, 2),
        "ef_emboss2.jpg": (emboss(small, 1.8, 1, 0.12), False, 2),
        "ef_emboss3.jpg": (emboss(small, 2.2, 2, 0.0), False, 2),
        "ef_neon0.jpg": (neon_edges(small, 0.0), True, 2),
        "ef_neon1.jpg": (neon_edges(small, 0.5), True, 2),
        "ef_neon2.jpg": (neon_edges(small, 1.0), True, 2),
        "ef_softfocus1.jpg": (soft_focus(small, 1.1), False, 2),
        "ef_softfocus2.jpg": (soft_focus(small, 2.6), False, 2),
        "ef_sharpen1.jpg": (sharpen(small, 0.9, 1.0), False, 2),
        "ef_sharpen2.jpg": (sharpen(small, 2.4, 1.4), False, 2),
        "db_none.jpg": (blk, False, 0),
        "db_smoothed.jpg": (deblock(blk), False, 0),
    }


def build():
    files = {}
    for name, (img, progressive, sub) in previews().items():
        files[name] = jpeg_bytes(img, progressive, sub)
    files["bk_lustre.png"] = background("lustre", False)
    files["bk_lustre_8bpp.png"] = background("lustre", True)
    files["bk_classic.png"] = background("classic", False)
    files["bk_classic_8bpp.png"] = background("classic", True)
    files["frame.png"] = frame("lustre", False)
    files["frame_8bpp.png"] = frame("lustre", True)
    files["logo_lustre.png"] = logo("lustre", False)
    files["logo_lustre_8bpp.png"] = logo("lustre", True)
    files["logo_classic.png"] = logo("classic", False)
    files["logo_classic_8bpp.png"] = logo("classic", True)
    files["radio.bmp"] = radio_strip()
    files["hand.cur"] = hand_cursor()
    files["tab.ico"] = tab_icon()
    return files


# ---------------------------------------------------------------------------
# The sample OEM skin (docs/sample-skin): not part of the module
# ---------------------------------------------------------------------------

HARBOUR = dict(top=(222, 240, 236), bottom=(118, 172, 166), panel=(240, 249, 247), accent=(0, 104, 112),
               accent2=(236, 158, 58))


def harbour_background(eight_bit):
    """Sea-green ground with faint diagonal swells and a sun-coloured glow
    under the logo."""
    L = HARBOUR
    W, H = BK_SIZE
    c = Canvas(W, H)
    c.rgb[:] = lerp(L["top"], L["bottom"], c.y / H)
    d = (c.x + c.y * 0.6) / 34.0
    c.paint(np.clip(1 - np.abs((d % 1) - 0.5) * 6, 0, 1), (255, 255, 255), 0.10)
    lx, ly, lx1, ly1 = dlu_box(193, 164, 57, 52)
    glow = np.exp(-(((c.x - (lx + lx1) / 2) / 80) ** 2 + ((c.y - (ly + ly1) / 2) / 70) ** 2))
    c.paint(glow, (255, 236, 200), 0.7)
    img = c.result()
    if eight_bit:
        return palette_png(ordered_dither(img, 8), 48)[0]
    return palette_png(img, 256)[0]


def harbour_emblem(W, H):
    """A teal tile with a setting sun over two waves; keyed like the module's logos."""
    L = HARBOUR
    c = Canvas(W, H, KEY)
    tile = c.rounded_rect(6, 4, W - 6, H - 4, 9)
    c.paint(tile, lerp(L["accent"], (0, 60, 70), c.y / H))
    sun = c.ellipse(W / 2, H * 0.46, W * 0.2, W * 0.2) & (c.y < H * 0.52)
    c.paint(sun & tile, L["accent2"])
    for i in range(2):
        wave = np.abs(c.y - (H * (0.6 + 0.12 * i) + 2.0 * np.sin(c.x / 5.0 + i))) < 1.1
        c.paint(wave & tile, (255, 255, 255))
    return keyed(c, tile, L["panel"])


def harbour_logo(eight_bit, size=(80, 70)):
    out = harbour_emblem(*size)
    pal = [KEY] + kmeans_palette(out[(out != KEY).any(axis=-1)].reshape(-1, 1, 3), 15 if eight_bit else 63)
    return png_bytes(nearest(out, pal).reshape(size[1], size[0]), pal, 8)


def rgb_png(img, depth):
    """A true-colour PNG of 8 or 16 bits per channel (filter 0)."""
    px = to_u8(img).astype(np.uint16 if depth == 16 else np.uint8)
    if depth == 16:
        px = (px * 257).astype(">u2")
    h, w = px.shape[:2]
    raw = b"".join(b"\x00" + px[r].tobytes() for r in range(h))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def harbour_icon():
    images = []
    for n in (32, 16):
        em = harbour_emblem(n * 2, n * 2)[::2, ::2]
        opaque = (em != KEY).any(axis=-1)
        rgba = np.concatenate([em, (opaque * 255).astype(np.uint8)[..., None]], axis=-1)
        images.append((n, n, 0, 1, 32, icon_image_32(rgba)))
    return icon_dir(1, images)


def sample_skin():
    """The "Harbour" sample skin, and the faulty files of its broken twin:
    a 16-bit background the decoders refuse, a small wide true-colour
    8-bit background, a logo too big for its control, and an "icon" that is
    a PNG."""
    big = harbour_logo(False, (140, 120))
    return {
        "harbour-background.png": harbour_background(False),
        "harbour-background-8bpp.png": harbour_background(True),
        "harbour-logo.png": harbour_logo(False),
        "harbour-logo-8bpp.png": harbour_logo(True),
        "harbour-tab.ico": harbour_icon(),
        "broken-background-16bit.png": rgb_png(draw_scene(160, 150), 16),
        "broken-background-8bpp.png": rgb_png(draw_scene(230, 100), 8),
        "broken-logo-big.png": big,
        "broken-tab.ico": big,
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "art"))
    ap.add_argument("--sample-skin", metavar="DIR")
    args = ap.parse_args()
    if args.sample_skin:
        args.out = args.sample_skin
    os.makedirs(args.out, exist_ok=True)
    for name, data in sorted((sample_skin() if args.sample_skin else build()).items()):
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
