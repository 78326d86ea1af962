#!/usr/bin/env python3
"""The layers the build enforces, checked with the build's own compile commands: game code cannot
include SDL, and no layer can include a header of a layer above it.

    layers_test.py BUILD_DIR

Each case compiles a small probe with the flags of a real source of one layer, so it fails when
the include paths of the targets let through what they must not, whatever the sources say now.
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = None

# A source of each layer, bottom to top, and the header it publishes.
LAYERS = [
    ("platform", "platform/gdi.cpp", "platform/gdi.h"),
    ("model", "model/globals.cpp", "model/globals.h"),
    ("init", "init/maps.cpp", "init/init.h"),
    ("main", "main/turns.cpp", "main/main.h"),
    ("replay", "replay/state.cpp", "replay/state.h"),
    ("online", "online/room.cpp", "online/room.h"),
    ("app", "app/shell.cpp", "app/app.h"),
]


def compile_command(source):
    """The directory and arguments that compile source, as the build has them."""
    wanted = os.path.join(ROOT, source)
    with open(os.path.join(BUILD, "compile_commands.json")) as f:
        for entry in json.load(f):
            if os.path.realpath(entry["file"]) == wanted:
                args = entry.get("arguments") or shlex.split(entry["command"])
                return entry["directory"], args, wanted
    raise AssertionError(f"{source} is not in the build's compile commands")


def compiles(source, text):
    """Whether text compiles with the flags of source; the compiler's messages otherwise."""
    directory, args, path = compile_command(source)
    flags = []
    skip = False
    for arg in args[1:]:
        if skip:
            skip = False
        elif arg in ("-o", "-MF", "-MT", "-MQ"):
            skip = True
        elif arg in ("-c", "-MD", "-MMD") or os.path.realpath(os.path.join(directory, arg)) == path:
            pass
        else:
            flags.append(arg)
    with tempfile.TemporaryDirectory() as tmp:
        probe = os.path.join(tmp, "probe.cpp")
        with open(probe, "w") as f:
            f.write(text)
        run = subprocess.run([args[0], *flags, "-fsyntax-only", probe], cwd=directory,
                             capture_output=True, text=True)
    return run.returncode == 0, run.stderr


class Layers(unittest.TestCase):
    def test_game_code_cannot_include_sdl(self):
        for layer, source, _ in LAYERS:
            for header in ("<SDL.h>", "<SDL2/SDL.h>"):
                with self.subTest(layer=layer, header=header):
                    ok, _ = compiles(source, f"#include {header}\n")
                    self.assertFalse(ok, f"{layer} code compiles #include {header}")

    def test_sdl_is_on_no_game_include_path(self):
        with open(os.path.join(BUILD, "compile_commands.json")) as f:
            entries = json.load(f)
        for entry in entries:
            source = os.path.relpath(os.path.realpath(entry["file"]), ROOT)
            layer = source.split(os.sep)[0]
            if layer not in ("model", "init", "main", "replay", "online", "app") and source not in (
                    "platform/gdi.cpp", "platform/files.cpp", "platform/resources.cpp"):
                continue
            with self.subTest(source=source):
                self.assertNotIn("SDL2", entry.get("command", " ".join(entry.get("arguments", []))))

    def test_no_layer_includes_one_above_it(self):
        for below, (layer, source, _) in enumerate(LAYERS):
            for upper, _, header in LAYERS[below + 1:]:
                with self.subTest(layer=layer, header=header):
                    ok, _ = compiles(source, f'#include "{header}"\n')
                    self.assertFalse(ok, f"{layer} code compiles #include \"{header}\"")

    def test_every_layer_includes_the_ones_beneath(self):
        # The cases above would pass with a broken probe: these must compile.
        for below, (layer, source, _) in enumerate(LAYERS):
            text = "".join(f'#include "{header}"\n' for _, _, header in LAYERS[:below + 1])
            with self.subTest(layer=layer):
                ok, errors = compiles(source, text + "int probe;\n")
                self.assertTrue(ok, errors)

    def test_the_sdl_backend_does_include_sdl(self):
        ok, errors = compiles("platform/sdl_window.cpp", "#include <SDL.h>\nint probe;\n")
        self.assertTrue(ok, errors)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    BUILD = os.path.realpath(sys.argv.pop(1))
    unittest.main(verbosity=2)
