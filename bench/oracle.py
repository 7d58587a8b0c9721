"""What gltriangles.exe must show, on a grid of sample points: the bench's
copy of the check program's oracle (wineharness/check.cpp), as it polls
Xvfb's framebuffer at millisecond rate, which the check program cannot."""

EDGE_MARGIN = 2.0  # pixels: samples this close to a triangle edge are not judged
TOLERANCE = 3      # levels out of 255, per channel (Mesa is off by at most 1)
GRID = (128, 48)   # sample columns and rows over the client area


def scene(w0, h0):
    """The two triangles as ((r, g, b), (x, y)) per vertex, in scene units:
    creation-time client pixels, origin at the bottom left, y up."""
    return [[((1, 0, 0), (10, 10)), ((1, 1, 0), (60, 70)), ((0, 1, 0), (160, 20))],
            [((0, 1, 1), (220, 90)), ((0, 0, 1), (280, 5)), ((1, 0, 1), (w0 - 10, h0 - 10))]]


def cross(o, a, b):
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0])


def segment_distance(p, a, b):
    dx, dy = b[0] - a[0], b[1] - a[1]
    t = max(0.0, min(1.0, ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / (dx * dx + dy * dy)))
    return ((p[0] - a[0] - t * dx) ** 2 + (p[1] - a[1] - t * dy) ** 2) ** 0.5


def colour_at(p, triangles):
    """Expected colour at point p (client pixels), or None near an edge."""
    colour = (0, 0, 0)
    for (ca, a), (cb, b), (cc, c) in triangles:
        if min(segment_distance(p, u, v) for u, v in ((a, b), (b, c), (c, a))) < EDGE_MARGIN:
            return None
        area = cross(a, b, c)
        wa, wb = cross(p, b, c) / area, cross(a, p, c) / area
        if min(wa, wb, 1 - wa - wb) >= 0:
            colour = tuple(round(255 * (wa * x + wb * y + (1 - wa - wb) * z))
                           for x, y, z in zip(ca, cb, cc))
    return colour


def client_triangles(w, h, w0, h0):
    """The scene set up in a w0 x h0 client area, in pixels of a w x h one,
    (0, 0) at its top left. The projection keeps the creation-time range,
    so x and y stretch apart."""
    return [[(c, (x * w / w0, h - y * h / h0)) for c, (x, y) in t] for t in scene(w0, h0)]


def expected_picture(w, h, w0, h0):
    """{(x, y): colour} on a grid over a w x h client area, (0, 0) at its
    top left, for a scene set up in a w0 x h0 client area."""
    triangles = client_triangles(w, h, w0, h0)
    cols, rows = GRID
    points = {(int((i + 0.5) * w / cols), int((j + 0.5) * h / rows))
              for i in range(cols) for j in range(rows)}
    judged = ((p, colour_at((p[0] + 0.5, p[1] + 0.5), triangles)) for p in sorted(points))
    return {p: colour for p, colour in judged if colour is not None}
