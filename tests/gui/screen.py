"""The Xvfb screen (its -fbdir file, XWD) as PNG files, whole or cut to a window."""
import struct
import zlib


def _png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def save(xwd_path, png_path, box=None):
    """box: (x, y, width, height) in screen pixels, or None for the whole screen."""
    with open(xwd_path, "rb") as f:
        data = f.read()
    (header_size, _version, _format, depth, width, height, _xoff, byte_order, _unit, _bit_order, _pad,
     bits_per_pixel, bytes_per_line, _visual, red_mask, green_mask, blue_mask, _bits_rgb, _entries,
     ncolors) = struct.unpack(">20I", data[:80])
    if bits_per_pixel != 32 or depth not in (24, 32):
        raise RuntimeError("unexpected screen format: %d bits per pixel, depth %d" % (bits_per_pixel, depth))
    pixels = data[header_size + ncolors * 12:]
    x, y, w, h = box or (0, 0, width, height)
    x, y = max(0, x), max(0, y)
    w, h = min(w, width - x), min(h, height - y)
    # Byte offsets of red, green and blue within a pixel as it lies in memory.
    offsets = []
    for mask in (red_mask, green_mask, blue_mask):
        shift = (mask & -mask).bit_length() - 1
        if mask >> shift != 0xFF or shift % 8:
            raise RuntimeError("unexpected colour masks")
        offsets.append(shift // 8 if byte_order == 0 else 3 - shift // 8)
    rows = []
    for row in range(y, y + h):
        start = row * bytes_per_line + x * 4
        line = pixels[start:start + w * 4]
        out = bytearray(w * 3)
        for i, off in enumerate(offsets):
            out[i::3] = line[off::4]
        rows.append(bytes(out))
    with open(png_path, "wb") as f:
        f.write(_png(w, h, rows))
