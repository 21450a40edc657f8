"""Starts Debian's standalone Mednafen for the tests, as a user runs it but
headless: a window on an Xvfb display, sound off, our BIOS image in the
firmware folder of a private Mednafen home (MEDNAFEN_HOME), and a PS-X EXE
given on its command line."""
import os
import shutil
import subprocess

# Mednafen reads the BIOS of the region it emulates; each name holds ours.
BIOS_NAMES = ("scph5500.bin", "scph5501.bin", "scph5502.bin")
SETTINGS = (
    ("sound", "0"),
    # Our BIOS is no console's: its hash is on no list Mednafen knows.
    ("psx.bios_sanity", "0"),
    ("video.fs", "0"),
)


def find_mednafen():
    """Debian installs it into /usr/games, which a test's PATH may lack."""
    return shutil.which("mednafen") or shutil.which("mednafen", path="/usr/games")


def write_settings(home, bios):
    """The firmware folder with our BIOS image, in Mednafen's home."""
    firmware = os.path.join(home, "firmware")
    os.makedirs(firmware, exist_ok=True)
    for name in BIOS_NAMES:
        shutil.copyfile(bios, os.path.join(firmware, name))


def start(program, home, display, game, log):
    env = dict(os.environ, MEDNAFEN_HOME=home, HOME=home, DISPLAY=display, LIBGL_ALWAYS_SOFTWARE="1",
               SDL_AUDIODRIVER="dummy")
    arguments = [argument for name, value in SETTINGS for argument in ("-" + name, value)]
    return subprocess.Popen([program] + arguments + [game], cwd=home, env=env, stdin=subprocess.DEVNULL,
                            stdout=log, stderr=log)
