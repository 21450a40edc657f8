"""Screenshots of an X display and the colour that fills most of them."""
import collections
import subprocess


def grab(display):
    """The whole screen as binary PPM bytes (ImageMagick's import)."""
    return subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "ppm:-"],
                          check=True, capture_output=True, timeout=30).stdout


def ppm_pixels(ppm):
    """(width, height, RGB bytes) of a binary PPM with 8-bit samples."""
    fields = []
    position = 0
    while len(fields) < 4:  # magic, width, height, maximum sample value
        while ppm[position:position + 1].isspace():
            position += 1
        end = position
        while not ppm[end:end + 1].isspace():
            end += 1
        fields.append(ppm[position:end])
        position = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    data = ppm[position + 1:position + 1 + width * height * 3]
    if len(data) != width * height * 3:
        raise ValueError("PPM data is cut short")
    return width, height, data


def dominant_colour(ppm, step=7):
    """The most frequent non-black colour among every step-th pixel; the screen
    around the emulator's window stays black."""
    _, _, data = ppm_pixels(ppm)
    counts = collections.Counter(
        data[i:i + 3] for i in range(0, len(data), 3 * step) if data[i:i + 3] != b"\0\0\0")
    return tuple(counts.most_common(1)[0][0]) if counts else (0, 0, 0)


def colour_name(rgb):
    red, green, blue = rgb
    if green > 96 and green > 2 * max(red, blue):
        return "green"
    if blue > 96 and blue > 2 * max(red, green):
        return "blue"
    return "other"


def save_png(ppm, path):
    subprocess.run(["convert", "ppm:-", path], input=ppm, check=True, timeout=30)
