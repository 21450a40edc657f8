"""Builds and starts Debian's Beetle PSX core for the tests, in our headless
libretro host (retro_host.c), with our BIOS image and a program: under Wine
the core built for Windows, natively Debian's own build of it. The Wine side
(a fresh server, the prompt the Windows tool runs at) is the end-to-end
tests' (tests/e2e/e2e_support.py)."""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e_support as e2e  # noqa: E402

BUILD_SECONDS = 900
READY_SECONDS = 60
# The core reads the BIOS of the region it runs in; for an EXE, North America.
BIOS_NAME = "scph5501.bin"
HOST_NAME = "retro_host.exe"


def build_core(script, dest, triple):
    """The core's DLL, built into dest (once) by build-beetle-core.sh."""
    done = subprocess.run(["bash", script, dest, triple], stdout=subprocess.PIPE, timeout=BUILD_SECONDS,
                          check=True)
    return done.stdout.decode().strip().splitlines()[-1]


def system_folder(home, bios):
    """A folder with our BIOS image under the name the core looks for."""
    folder = os.path.join(home, "system")
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(bios, os.path.join(folder, BIOS_NAME))
    return folder


def start_host(loader, host, core, system, game, env, log):
    """Starts the host under Wine with the core and the game; returns the
    process (its Linux PID is the Wine process's) and its Wine PID, once the
    game is loaded."""
    command = [loader, host, e2e.windows_path(core), e2e.windows_path(system), e2e.windows_path(game)]
    return ready_host(command, env, log)


def start_native_host(host, core, system, game, log):
    """Starts the native host with the core and the game; returns the process
    and its PID, once the game is loaded."""
    return ready_host([host, core, system, game], dict(os.environ), log)


def ready_host(command, env, log):
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log)
    try:
        found, _ = e2e.read_until(process.stdout, re.compile(rb"ready pid (\d+)\r?\n"), READY_SECONDS,
                                  "the libretro host")
    except RuntimeError:
        e2e.stop_process(process)
        raise
    return process, int(found.group(1))

