"""Starts and stops a headless X server and the pcsxr emulator for the tests.

pcsxr refuses -nogui until its configuration file exists, so each run gets a
private HOME with one written there. The OpenGL video plugin is used because the
software one needs the XVideo extension, which Xvfb lacks; Mesa renders it."""
import glob
import os
import shutil
import signal
import subprocess
import time

PLUGIN_DIR_PATTERNS = ("/usr/lib/*/psemu", "/usr/lib/psemu", "/usr/lib/games/psemu")
VIDEO_PLUGIN = "libpeopsxgl.so"


def find_pcsxr():
    return shutil.which("pcsxr") or shutil.which("pcsxr", path="/usr/games")


def find_plugin_dir():
    for pattern in PLUGIN_DIR_PATTERNS:
        for directory in sorted(glob.glob(pattern)):
            if os.path.exists(os.path.join(directory, VIDEO_PLUGIN)):
                return directory
    return None


def write_config(home, plugin_dir):
    config_dir = os.path.join(home, ".pcsxr")
    for sub in ("bios", "memcards"):
        os.makedirs(os.path.join(config_dir, sub), exist_ok=True)
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
        ("Cpu", "0"),
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
