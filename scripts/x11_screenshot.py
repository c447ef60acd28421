#!/usr/bin/env python3
"""A PNG of an X display's root window, with nothing but Python and libX11: x11_screenshot.py FILE.

make run takes its screenshot with this, so that a first run needs no image tools. The display is
$DISPLAY; the screen must be TrueColor with 32 bits a pixel (Xvfb's 24-bit screens are). Its
libX11() is the tests' one binding of Xlib (tests/harness.py: screenshots, a host's windows)."""
import ctypes
import ctypes.util
import struct
import sys
import zlib


class XImage(ctypes.Structure):
    # The leading fields of Xlib's XImage, as far as the colour masks.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
                ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong)]


ZPIXMAP = 2
ALL_PLANES = ctypes.c_ulong(-1 & 0xFFFFFFFFFFFFFFFF)


_lib = None


def libX11():
    """libX11, with the prototypes of the functions used here and by the tests."""
    global _lib
    if _lib is not None:
        return _lib
    x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    dpy, window, c_int, c_uint = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_uint
    x.XOpenDisplay.restype = dpy
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.restype = window
    x.XDefaultRootWindow.argtypes = [dpy]
    x.XDefaultScreen.argtypes = [dpy]
    x.XDisplayWidth.argtypes = x.XDisplayHeight.argtypes = [dpy, c_int]
    x.XGetImage.restype = ctypes.POINTER(XImage)
    x.XGetImage.argtypes = [dpy, window, c_int, c_int, c_uint, c_uint, ctypes.c_ulong, c_int]
    x.XCloseDisplay.argtypes = [dpy]
    x.XCreateSimpleWindow.restype = window
    x.XCreateSimpleWindow.argtypes = [dpy, window, c_int, c_int, c_uint, c_uint, c_uint, ctypes.c_ulong, ctypes.c_ulong]
    x.XMapWindow.argtypes = x.XDestroyWindow.argtypes = [dpy, window]
    x.XResizeWindow.argtypes = [dpy, window, c_uint, c_uint]
    x.XSync.argtypes = [dpy, c_int]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [dpy, ctypes.c_char_p, c_int]
    x.XSendEvent.argtypes = [dpy, window, c_int, ctypes.c_long, ctypes.c_void_p]
    _lib = x
    return x


def grab(display_name=None):
    """(width, height, RGB bytes) of the root window of the display."""
    x = libX11()
    display = x.XOpenDisplay(display_name.encode() if display_name else None)
    if not display:
        raise RuntimeError("cannot open the display")
    try:
        screen = x.XDefaultScreen(display)
        width, height = x.XDisplayWidth(display, screen), x.XDisplayHeight(display, screen)
        image = x.XGetImage(display, x.XDefaultRootWindow(display), 0, 0, width, height, ALL_PLANES, ZPIXMAP)
        if not image:
            raise RuntimeError("the server gave no image")
        im = image.contents
        if im.bits_per_pixel != 32 or im.bytes_per_line < width * 4:
            raise RuntimeError(f"{im.bits_per_pixel} bits a pixel: only 32 are read")
        data = ctypes.string_at(im.data, im.bytes_per_line * height)
        # Which byte of a pixel holds each channel, from its mask and the image's byte order.
        def byte_of(mask):
            shift = (mask & -mask).bit_length() - 1
            return shift // 8 if im.byte_order == 0 else 3 - shift // 8
        channels = [byte_of(m) for m in (im.red_mask, im.green_mask, im.blue_mask)]
    finally:
        x.XCloseDisplay(display)
    rgb = bytearray(width * height * 3)
    for row in range(height):
        line = data[row * im.bytes_per_line:row * im.bytes_per_line + width * 4]
        out = row * width * 3
        for c, b in enumerate(channels):
            rgb[out + c:out + width * 3:3] = line[b::4]
    return width, height, bytes(rgb)


def png(width, height, rgb):
    """An 8-bit RGB PNG of the pixels, each row unfiltered."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    stride = width * 3
    raw = b"".join(b"\0" + rgb[y * stride:(y + 1) * stride] for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 2:
        print("usage: x11_screenshot.py FILE", file=sys.stderr)
        return 2
    try:
        width, height, rgb = grab()
    except RuntimeError as error:
        print(f"x11-screenshot: {error}", file=sys.stderr)
        return 1
    with open(sys.argv[1], "wb") as f:
        f.write(png(width, height, rgb))
    return 0


if __name__ == "__main__":
    sys.exit(main())
