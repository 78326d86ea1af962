#!/usr/bin/python3
"""The few Xlib and XTest calls the timings need, through ctypes: find a window by its title, read
a rectangle of its pixels, and press or release the mouse button over it, all from one connection,
so that a measurement is not padded by starting a program per step."""
import ctypes
import ctypes.util

_x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
_xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")

Window = ctypes.c_ulong
_ZPIXMAP = 2
_ALL_PLANES = ctypes.c_ulong(~0 & 0xFFFFFFFFFFFFFFFF)
_IS_VIEWABLE = 2


class _Funcs(ctypes.Structure):
    _fields_ = [("create_image", ctypes.c_void_p), ("destroy_image", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p)),
                ("get_pixel", ctypes.c_void_p), ("put_pixel", ctypes.c_void_p), ("sub_image", ctypes.c_void_p),
                ("add_pixel", ctypes.c_void_p)]


class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_char)), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
                ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong),
                ("obdata", ctypes.c_void_p), ("f", _Funcs)]


class _Attributes(ctypes.Structure):
    # XWindowAttributes up to map_state; the rest is room for what follows.
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", Window), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("rest", ctypes.c_char * 64)]


def _signature(function, result, *args):
    function.restype = result
    function.argtypes = list(args)


_signature(_x11.XOpenDisplay, ctypes.c_void_p, ctypes.c_char_p)
_signature(_x11.XCloseDisplay, ctypes.c_int, ctypes.c_void_p)
_signature(_x11.XDefaultRootWindow, Window, ctypes.c_void_p)
_signature(_x11.XQueryTree, ctypes.c_int, ctypes.c_void_p, Window, ctypes.POINTER(Window), ctypes.POINTER(Window),
           ctypes.POINTER(ctypes.POINTER(Window)), ctypes.POINTER(ctypes.c_uint))
_signature(_x11.XFetchName, ctypes.c_int, ctypes.c_void_p, Window, ctypes.POINTER(ctypes.c_char_p))
_signature(_x11.XFree, ctypes.c_int, ctypes.c_void_p)
_signature(_x11.XGetWindowAttributes, ctypes.c_int, ctypes.c_void_p, Window, ctypes.POINTER(_Attributes))
_signature(_x11.XGetImage, ctypes.POINTER(_XImage), ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_int,
           ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int)
_signature(_x11.XTranslateCoordinates, ctypes.c_int, ctypes.c_void_p, Window, Window, ctypes.c_int, ctypes.c_int,
           ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(Window))
_signature(_x11.XFlush, ctypes.c_int, ctypes.c_void_p)
_signature(_x11.XSync, ctypes.c_int, ctypes.c_void_p, ctypes.c_int)
_signature(_x11.XSetErrorHandler, ctypes.c_void_p, ctypes.c_void_p)
_signature(_xtst.XTestFakeMotionEvent, ctypes.c_int, ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
           ctypes.c_ulong)
_signature(_xtst.XTestFakeButtonEvent, ctypes.c_int, ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong)

# A window that goes away between two calls raises an X error; the calls then just return nothing.
_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda display, event: 0)
_x11.XSetErrorHandler(ctypes.cast(_ERROR_HANDLER, ctypes.c_void_p))


class Display:
    def __init__(self, name):
        self.handle = _x11.XOpenDisplay(name.encode())
        if not self.handle:
            raise RuntimeError(f"cannot open display {name}")
        self.root = _x11.XDefaultRootWindow(self.handle)

    def close(self):
        _x11.XCloseDisplay(self.handle)

    def find_window(self, title):
        """The viewable top-level window with exactly this title, or None."""
        root, parent = Window(), Window()
        children = ctypes.POINTER(Window)()
        count = ctypes.c_uint()
        if not _x11.XQueryTree(self.handle, self.root, ctypes.byref(root), ctypes.byref(parent),
                               ctypes.byref(children), ctypes.byref(count)):
            return None
        found = None
        try:
            for i in range(count.value):
                name = ctypes.c_char_p()
                if _x11.XFetchName(self.handle, children[i], ctypes.byref(name)) and name.value is not None:
                    same = name.value == title.encode()
                    _x11.XFree(name)
                    attributes = _Attributes()
                    if same and _x11.XGetWindowAttributes(self.handle, children[i], ctypes.byref(attributes)) \
                            and attributes.map_state == _IS_VIEWABLE:
                        found = children[i]
                        break
        finally:
            if children:
                _x11.XFree(children)
        return found

    def pixels(self, window, x, y, width, height):
        """The rectangle's pixels as raw bytes, 32 bits each; None if it cannot be read."""
        image = _x11.XGetImage(self.handle, window, x, y, width, height, _ALL_PLANES, _ZPIXMAP)
        if not image:
            return None
        data = ctypes.string_at(image.contents.data, image.contents.bytes_per_line * height)
        image.contents.f.destroy_image(ctypes.cast(image, ctypes.c_void_p))
        return data

    def move(self, window, x, y):
        """Puts the pointer over a point of the window."""
        rx, ry, child = ctypes.c_int(), ctypes.c_int(), Window()
        _x11.XTranslateCoordinates(self.handle, window, self.root, x, y, ctypes.byref(rx), ctypes.byref(ry),
                                   ctypes.byref(child))
        _xtst.XTestFakeMotionEvent(self.handle, -1, rx.value, ry.value, 0)
        _x11.XSync(self.handle, 0)

    def button(self, down):
        """Presses or releases the left button and hands the event to the server at once."""
        _xtst.XTestFakeButtonEvent(self.handle, 1, 1 if down else 0, 0)
        _x11.XFlush(self.handle)
