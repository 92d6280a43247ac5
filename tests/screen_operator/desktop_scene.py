"""A desktop-like picture for screenshots on a virtual screen: a detailed wallpaper,
windows full of text and a panel. An empty screen encodes in no time, so timings and
pixel checks need something like this on it. Deterministic for a size and seed."""

from __future__ import annotations

import random

from PIL import Image, ImageDraw, ImageFilter, ImageFont

WORDS = ("def screenshot capture resize encode return image self width height the of and to in is for on "
         "import from class while with None True False").split()


def desktop_scene(width: int, height: int, seed: int = 7) -> Image.Image:
    rnd = random.Random(seed)
    fractal = Image.effect_mandelbrot((width, height), (-2.3, -1.3, 0.9, 1.3), 160)
    noise = Image.effect_noise((width, height), 24)
    ramp = Image.linear_gradient("L").resize((width, height))
    scene = Image.merge("RGB", (Image.blend(fractal, noise, 0.35), Image.blend(ramp, noise, 0.3),
                                Image.blend(fractal.transpose(Image.Transpose.FLIP_LEFT_RIGHT), ramp, 0.5)))
    scene = scene.filter(ImageFilter.GaussianBlur(1))
    draw = ImageDraw.Draw(scene)
    font = ImageFont.load_default(size=max(11, height // 80))
    for number in range(5):
        left, top = rnd.randrange(0, width * 2 // 3), rnd.randrange(30, height * 2 // 3)
        right = min(width - 1, left + rnd.randrange(width // 4, width // 2))
        bottom = min(height - 1, top + rnd.randrange(height // 4, height // 2))
        background = rnd.choice([(255, 255, 255), (30, 30, 36), (246, 246, 240)])
        ink = (20, 20, 20) if sum(background) > 400 else (220, 220, 210)
        draw.rectangle((left, top, right, bottom), fill=background, outline=(90, 90, 90))
        draw.rectangle((left, top, right, top + 24), fill=(60, 90, 160))
        draw.text((left + 8, top + 4), f"Window {number} - editor", fill=(255, 255, 255), font=font)
        y = top + 30
        while y < bottom - 16:
            line = " " * rnd.randrange(0, 12) + " ".join(rnd.choice(WORDS) for _ in range(rnd.randrange(2, 12)))
            draw.text((left + 8, y), line, fill=rnd.choice([ink, (160, 40, 40), (30, 120, 40), (40, 60, 170)]),
                      font=font)
            y += font.size + 4
    draw.rectangle((0, height - 28, width, height), fill=(40, 40, 48))
    for i in range(12):
        draw.rectangle((8 + i * 40, height - 24, 36 + i * 40, height - 4),
                       fill=(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)))
    return scene


def show_on_root(image: Image.Image, display_name: str):
    """Makes `image` the root window's background on that X display. Returns the
    connection, which keeps the picture there until it is closed."""
    from Xlib import X, display

    connection = display.Display(display_name)
    screen = connection.screen()
    root = screen.root
    width, height = image.size
    pixmap = root.create_pixmap(width, height, screen.root_depth)
    context = pixmap.create_gc()
    raw = image.convert("RGB").tobytes("raw", "BGRX")
    rows = max(1, 200_000 // (width * 4))  # within the core protocol's request size
    for top in range(0, height, rows):
        count = min(rows, height - top)
        pixmap.put_image(context, 0, top, width, count, X.ZPixmap, 24, 0,
                         raw[top * width * 4:(top + count) * width * 4])
    root.change_attributes(background_pixmap=pixmap)
    root.clear_area(0, 0, width, height)
    connection.sync()
    return connection
