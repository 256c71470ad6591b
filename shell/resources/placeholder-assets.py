"""Blank 16-colour images of the sizes the program expects."""
import os
import struct
import sys


def dib(width, height, with_mask):
    row = ((width * 4 + 31) // 32) * 4
    mask_row = ((width + 31) // 32) * 4
    pixels = bytes(row * height)
    mask = bytes(mask_row * height) if with_mask else b""
    palette = b"".join(struct.pack("<BBBB", v, v, v, 0) for v in range(0, 256, 17))
    header = struct.pack("<IiiHHIIiiII", 40, width, height * (2 if with_mask else 1), 1, 4, 0,
                         len(pixels) + len(mask), 0, 0, 16, 0)
    return header + palette + pixels + mask


def main(folder):
    os.makedirs(folder, exist_ok=True)
    picture = dib(376, 200, False)
    with open(os.path.join(folder, "mosslane.bmp"), "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(picture), 0, 0, 14 + 40 + 64) + picture)
    images = [dib(32, 32, True), dib(16, 16, True)]
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip((32, 16), images):
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    with open(os.path.join(folder, "mosslane.ico"), "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + entries + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
