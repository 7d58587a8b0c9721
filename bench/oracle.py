"""What the client area must show at a given size, as a few sample pixels.

The scene is drawn in the creation-time client units (W0 x H0, y up) and
stretched over the current client area, so every expected pixel follows from
the size alone. Points closer than EDGE_GAP pixels to a triangle edge are
skipped: rasterisation may go either way there.
"""

EDGE_GAP = 1.5
TOLERANCE = 24  # per channel, out of 255

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)


def triangles(w0, h0):
    """The two triangles as ((x, y), (r, g, b)) corners in scene units."""
    return (
        (((10, 10), (1, 0, 0)), ((60, 70), (1, 1, 0)), ((160, 20), (0, 1, 0))),
        (((220, 90), (0, 1, 1)), ((280, 5), (0, 0, 1)), ((w0 - 10, h0 - 10), (1, 0, 1))),
    )


def _pixel_triangles(w0, h0, w, h):
    """The triangles in client pixel space (x right, y down) for a w x h client."""
    sx, sy = w / w0, h / h0
    return [[((x * sx, h - y * sy), rgb) for (x, y), rgb in tri] for tri in triangles(w0, h0)]


def _barycentric(tri, x, y):
    (x1, y1), (x2, y2), (x3, y3) = (corner for corner, _ in tri)
    det = (y2 - y3) * (x1 - x3) + (x3 - x2) * (y1 - y3)
    l1 = ((y2 - y3) * (x - x3) + (x3 - x2) * (y - y3)) / det
    l2 = ((y3 - y1) * (x - x3) + (x1 - x3) * (y - y3)) / det
    return l1, l2, 1.0 - l1 - l2


def _edge_distance(tri, x, y):
    """Distance in pixels from (x, y) to the nearest edge of tri."""
    best = float("inf")
    corners = [c for c, _ in tri]
    for (ax, ay), (bx, by) in zip(corners, corners[1:] + corners[:1]):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        best = min(best, ((x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2) ** 0.5)
    return best


def expected(w0, h0, w, h, x, y):
    """The colour of client pixel (x, y), or None if it sits on an edge."""
    cx, cy = x + 0.5, y + 0.5
    for tri in _pixel_triangles(w0, h0, w, h):
        if _edge_distance(tri, cx, cy) < EDGE_GAP:
            return None
        weights = _barycentric(tri, cx, cy)
        if min(weights) >= 0:
            return tuple(round(255 * sum(wt * rgb[i] for wt, (_, rgb) in zip(weights, tri)))
                         for i in range(3))
    return BLACK


def _candidates(w0, h0, w, h):
    """A coarse grid over the whole client area, its corners included, plus
    points just inside and just outside each edge, where a picture that is
    stale, shifted or stretched wrongly shows first."""
    points = set()
    for i in range(17):
        for j in range(7):
            points.add((min(w - 1, round(i * (w - 1) / 16)), min(h - 1, round(j * (h - 1) / 6))))
    for tri in _pixel_triangles(w0, h0, w, h):
        corners = [c for c, _ in tri]
        for (ax, ay), (bx, by) in zip(corners, corners[1:] + corners[:1]):
            length = ((bx - ax) ** 2 + (by - ay) ** 2) ** 0.5
            nx, ny = -(by - ay) / length, (bx - ax) / length
            for t in (0.25, 0.5, 0.75):
                for side in (-3.0, 3.0):
                    x = ax + t * (bx - ax) + side * nx
                    y = ay + t * (by - ay) + side * ny
                    if 0 <= x < w and 0 <= y < h:
                        points.add((int(x), int(y)))
    return sorted(points)


_cache = {}


def scene_points(w0, h0, w, h):
    """[(x, y, (r, g, b))] in client pixels for the triangle scene at w x h."""
    key = ("scene", w0, h0, w, h)
    if key not in _cache:
        _cache[key] = [(x, y, c) for x, y in _candidates(w0, h0, w, h)
                       if (c := expected(w0, h0, w, h, x, y)) is not None]
    return _cache[key]


def plain_points(w0, h0, w, h, colour=WHITE):
    """The same sample grid, all one colour: the baseline's erased client."""
    return [(x, y, colour) for x, y in _candidates(w0, h0, w, h)]


def matches(seen, want):
    return all(abs(a - b) <= TOLERANCE for a, b in zip(seen, want))
