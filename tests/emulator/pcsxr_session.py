"""Starts and stops a headless X server and the pcsxr emulator for the tests.

pcsxr refuses -nogui until its configuration file exists, so each run gets a
private HOME with one written there. The OpenGL video plugin is used because the
software one needs the XVideo extension, which Xvfb lacks; Mesa renders it."""
import glob
import os
import signal
import subprocess
import time

PLUGIN_DIR_PATTERNS = ("usr/lib/*/psemu", "usr/lib/psemu", "usr/lib/games/psemu")
VIDEO_PLUGIN = "libpeopsxgl.so"


def find_pcsxr(root):
    """Debian's pcsxr under root: "/" for the installed package, or the folder
    a package was unpacked into."""
    program = os.path.join(root, "usr/games/pcsxr")
    return program if os.access(program, os.X_OK) else None


def find_plugin_dir(root):
    for pattern in PLUGIN_DIR_PATTERNS:
        for directory in sorted(glob.glob(os.path.join(root, pattern))):
            if os.path.exists(os.path.join(directory, VIDEO_PLUGIN)):
                return directory
    return None


def program_bits(path):
    """32 or 64 for an ELF program, from the class byte of its header; else None."""
    with open(path, "rb") as program:
        header = program.read(5)
    if header[:4] != b"\x7fELF":
        return None
    return {1: 32, 2: 64}.get(header[4])


def write_config(home, plugin_dir, interpreter):
    """interpreter: run the emulated CPU in pcsxr's interpreter instead of its
    recompiler."""
    config_dir = os.path.join(home, ".pcsxr")
    for sub in ("bios", "memcards", "plugins"):
        os.makedirs(os.path.join(config_dir, sub), exist_ok=True)
    # pcsxr links the plugins of its built-in folders into .pcsxr/plugins and
    # looks for the video plugin there again as the emulation starts (it exits
    # where it is missing), so a plugin folder of our own is linked the same way.
    for plugin in glob.glob(os.path.join(plugin_dir, "*.so")):
        os.symlink(plugin, os.path.join(config_dir, "plugins", os.path.basename(plugin)))
    settings = [
        ("Bios", "HLE"),  # its built-in BIOS: no BIOS file is needed
        ("Gpu", VIDEO_PLUGIN),
        ("Spu", "libDFSound.so"),
        ("Cdr", "libDFCdrom.so"),
        ("Sio1", "libBladeSio1.so"),
        ("Net", "Disabled"),
        ("Pad1", "libDFInput.so"),
        ("Pad2", "libDFInput.so"),
        ("Mcd1", os.path.join(config_dir, "memcards", "card1.mcd")),
        ("Mcd2", os.path.join(config_dir, "memcards", "card2.mcd")),
        ("BiosDir", os.path.join(config_dir, "bios") + "/"),
        ("PluginsDir", plugin_dir.rstrip("/") + "/"),
        ("SlowBoot", "0"),
        ("Cpu", "1" if interpreter else "0"),
        ("PsxType", "0"),
    ]
    with open(os.path.join(config_dir, "pcsxr.cfg"), "w") as cfg:
        cfg.writelines("%s = %s\n" % pair for pair in settings)


def start_xvfb(log):
    """Returns the server process and its display name, once it takes clients."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "640x480x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as ready:
        number = ready.readline().strip()  # written once the server is ready
    if not number:
        stop(server)
        raise RuntimeError("Xvfb did not start")
    return server, ":" + number


def start_pcsxr(pcsxr, home, display, arguments, log):
    env = dict(os.environ)
    env.update({
        "HOME": home,
        "DISPLAY": display,
        "LIBGL_ALWAYS_SOFTWARE": "1",
        "SDL_AUDIODRIVER": "dummy",      # no sound device here
        "SDL_NO_SIGNAL_HANDLERS": "1",   # else its sound library swallows SIGTERM
    })
    return subprocess.Popen([pcsxr, "-nogui"] + arguments, cwd=home, env=env,
                            stdout=log, stderr=log, stdin=subprocess.DEVNULL)


def stop(process, grace=10.0):
    """Ends one process we started, by its PID: politely first, then for sure."""
    if process.poll() is not None:
        return
    os.kill(process.pid, signal.SIGTERM)
    try:
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        os.kill(process.pid, signal.SIGKILL)
        process.wait()


def wait_until(condition, timeout, interval=0.5):
    """Calls condition until it returns something true or the time is up."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(interval)


def start_headless(pcsxr, plugin_dir, home, program):
    """Xvfb, then pcsxr in its interpreter running `program` on its display,
    with their logs in `home`, as the benchmarks run it: (server, emulator).
    Where pcsxr can't be started, the server is stopped first."""
    with open(os.path.join(home, "xvfb.log"), "w") as xvfb_log:
        server, display = start_xvfb(xvfb_log)
    try:
        write_config(home, plugin_dir, interpreter=True)
        with open(os.path.join(home, "pcsxr.log"), "w") as log:
            return server, start_pcsxr(pcsxr, home, display, [os.path.abspath(program)], log)
    except BaseException:
        stop(server)
        raise
