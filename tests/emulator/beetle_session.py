"""Builds and starts Debian's Beetle PSX core under Wine for the tests, in our
headless libretro host (retro_host.exe), with our BIOS image and TESSIL.EXE.

The core and the host run in a Wine prefix of their own, kept in the build
tree (made once; the first start of a new prefix takes a while). Each run
starts that prefix's server afresh and the emulator first, so that it is the
first entry of the process list, as for a user who starts an emulator first."""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e_support as e2e  # noqa: E402

BUILD_SECONDS = 900
WINE_SECONDS = 300
READY_SECONDS = 60
# The core reads the BIOS of the region it runs in; for an EXE, North America.
BIOS_NAME = "scph5501.bin"
HOST_NAME = "retro_host.exe"


def build_core(script, dest, triple):
    """The core's DLL, built into dest (once) by build-beetle-core.sh."""
    done = subprocess.run(["bash", script, dest, triple], stdout=subprocess.PIPE, timeout=BUILD_SECONDS,
                          check=True)
    return done.stdout.decode().strip().splitlines()[-1]


def wine_environment(prefix, bits):
    return dict(os.environ, WINEPREFIX=os.path.abspath(prefix), WINEARCH="win%d" % bits, WINEDEBUG="-all",
                DISPLAY="")


def fresh_server(loader, env):
    """A new server for the prefix, with nothing running in it yet; the prefix
    is made first where it is new."""
    stop_server(env)
    os.makedirs(env["WINEPREFIX"], exist_ok=True)
    if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
        subprocess.run([loader, "wineboot", "-i"], env=env, timeout=WINE_SECONDS, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        stop_server(env)
    subprocess.run(["wineserver", "-p"], env=env, timeout=30, check=True)


def stop_server(env):
    """Ends the prefix's server and every process in it (the prefix is ours)."""
    subprocess.run(["wineserver", "-k"], env=env, timeout=60, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, timeout=60, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def system_folder(home, bios):
    """A folder with our BIOS image under the name the core looks for."""
    folder = os.path.join(home, "system")
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(bios, os.path.join(folder, BIOS_NAME))
    return folder


def start_host(loader, host, core, system, game, env, log):
    """Starts the host with the core and the game; returns the process (its
    Linux PID is the Wine process's) and its Wine PID, once the game is loaded."""
    command = [loader, host, e2e.windows_path(core), e2e.windows_path(system), e2e.windows_path(game)]
    process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log)
    try:
        found, _ = e2e.read_until(process.stdout, re.compile(rb"ready pid (\d+)\r?\n"), READY_SECONDS,
                                  "the libretro host")
    except RuntimeError:
        e2e.stop_process(process)
        raise
    return process, int(found.group(1))


def start_prompt(loader, env, folder):
    """A command prompt in the prefix for the Windows tool, which reports its
    full 32-bit exit status through it (e2e_support.run_at_prompt)."""
    setting = {"wine": loader, "env": env, "scratch": folder, "prompt": None}
    e2e.start_prompt(setting)
    return setting


def stop_prompt(setting):
    e2e.stop_process(setting["prompt"])


def run_windows_tool(prompt_setting, tool, argument):
    """(printed line, full exit status) of the Windows tool run at the prompt."""
    output, status = e2e.run_at_prompt(prompt_setting, '"%s" %s' % (e2e.windows_path(tool), argument))
    return output.decode("ascii", "replace").strip(), status
