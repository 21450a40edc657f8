"""Plumbing for the end-to-end tests: starting and stopping the stand-in
emulator, running the tool natively or through a Windows command prompt under
Wine, and readying and ending Wine itself. Every wait has a time limit, and
every process started here is stopped here, by its own PID."""

import argparse
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

# The one line the 64-bit tools write, after their name, where they found the
# RAM by the console's kernel area.
KERNEL_NOTE = "the RAM was found by the console's kernel area, as no marker program is running in the emulator"

STANDIN_READY_SECONDS = 60
TOOL_SECONDS = 60
STOP_SECONDS = 10
WINEBOOT_SECONDS = 300

# Written after each command given to the prompt; carries the error level.
STATUS_LINE = re.compile(rb"@@status=(-?\d+)@@\r\n")
PROMPT_READY = b"@@ready@@\r\n"


class Skip(Exception):
    """A case that can't be staged here."""


def read_until(stream, wanted, seconds, what):
    """Reads `stream` until the regex `wanted` matches; returns (match, data)."""
    deadline = time.monotonic() + seconds
    data = b""
    fd = stream.fileno()
    while True:
        found = wanted.search(data)
        if found:
            return found, data
        left = deadline - time.monotonic()
        if left <= 0:
            raise RuntimeError("no answer from %s within %d s; got %r" % (what, seconds, data[-400:]))
        readable, _, _ = select.select([fd], [], [], left)
        if readable:
            chunk = os.read(fd, 65536)
            if not chunk:
                raise RuntimeError("%s ended early; got %r" % (what, data[-400:]))
            data += chunk


def windows_path(path):
    # Wine's drive Z: is the Unix root.
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def stop_process(process):
    """Closes its input (the stand-in's cue to stop), then ends it by PID if it lingers."""
    if process.poll() is None:
        try:
            if process.stdin:
                process.stdin.close()
        except OSError:
            pass
        try:
            process.wait(STOP_SECONDS)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(STOP_SECONDS)
    for stream in (process.stdin, process.stdout):
        if stream and not stream.closed:
            stream.close()


# ---------------------------------------------------------------- the setting

def make_setting(tool, standin, wine, address_bits, wineprefix=None, bat=None, wine_standin=None, wine64=None,
                 emulator=None):
    """Everything a case needs to know about how to run things here. `wine` is
    Wine's loader for the Windows build (None natively); `wine_standin` and
    `wine64` a Windows stand-in and Wine's 64-bit loader for the native tool;
    `emulator` the user-mode emulator command (a list) that runs both the tool
    and the stand-in of a Linux build for another processor."""
    setting = {
        "tool": os.path.abspath(tool),
        "wine": wine,
        "wine_standin": os.path.abspath(wine_standin) if wine_standin else None,
        "wine64": wine64,
        # 32: the tool copies each region whole; 64: in pieces of 1 MiB.
        "address_bits": address_bits,
        "bat": os.path.abspath(bat) if bat else None,
        "scratch": tempfile.mkdtemp(prefix="mirvane-e2e-"),
        "started": [],
        "prompt": None,
        "own_wineserver": False,
        "emulator": list(emulator or []),
    }
    if wine:
        setting["env"] = wine_environment(tool, wineprefix)
        setting["standin"] = os.path.abspath(standin)
        setting["line_end"] = b"\r\n"
    else:
        setting["env"] = dict(os.environ)
        # A name of our own, so that no other run's stand-in can answer to it.
        copy = os.path.join(setting["scratch"], "StandInEmu-%d" % os.getpid())
        shutil.copy2(standin, copy)
        setting["standin"] = copy
        setting["line_end"] = b"\n"
    setting["standin_name"] = os.path.basename(setting["standin"])
    if emulator:
        # The system names an emulated process after the emulator it runs in.
        setting["standin_name"] = os.path.basename(emulator[0])
    return setting


def wine_environment(tool, wineprefix=None):
    """The prefix is `wineprefix`, else $WINEPREFIX, else "wineprefix" beside
    the tool. A new one is made for $WINEARCH (win32 or win64), which the test
    registration sets to the build's width."""
    prefix = wineprefix or os.environ.get("WINEPREFIX") or default_wineprefix(tool)
    return dict(os.environ, WINEDEBUG="-all", DISPLAY="", WINEPREFIX=os.path.abspath(prefix))


def default_wineprefix(tool):
    # The prefix lives in the build folder, beside the tool.
    return os.path.join(os.path.dirname(os.path.abspath(tool)), "wineprefix")


def start_wine_server(setting):
    """Starts a persistent server and Wine's services in the setting's prefix."""
    env = setting["env"]
    os.makedirs(env["WINEPREFIX"], exist_ok=True)
    # Fails when a server for this prefix runs already (the caller's): then it isn't ours to stop.
    started = subprocess.run(["wineserver", "-p"], env=env, timeout=30,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    setting["own_wineserver"] = started.returncode == 0
    subprocess.run([setting["wine"], "wineboot", "-i"], env=env, timeout=WINEBOOT_SECONDS,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def stop_wine_server(setting):
    """Ends the server, and with it Wine's services, where we started it."""
    if setting["own_wineserver"]:
        subprocess.run(["wineserver", "-k"], env=setting["env"], timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        setting["own_wineserver"] = False


def start_wine(setting):
    """Starts a persistent server and Wine's services, then one command prompt
    that every later run of the tool goes through. Everything Wine starts for
    itself is thus older than the stand-ins started afterwards."""
    start_wine_server(setting)
    start_prompt(setting)


def start_prompt(setting):
    """The command prompt that the tool is run through (run_at_prompt), in the
    setting's prefix, started in its scratch folder."""
    env = setting["env"]
    prompt = subprocess.Popen([setting["wine"], "cmd", "/q", "/v:on"], env=env, cwd=setting["scratch"],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    setting["prompt"] = prompt
    # Wine's prompt takes only the first line of what waits in its input: one line at a time.
    prompt.stdin.write(b"echo @@ready@@\r\n")
    prompt.stdin.flush()
    read_until(prompt.stdout, re.compile(re.escape(PROMPT_READY)), WINEBOOT_SECONDS, "the command prompt")


def fresh_server_setting(setting):
    """A setting for a copy of the prefix with a server of its own, where
    nothing runs yet: the next program started there is the first entry of the
    process list, where Windows lists its idle process. The copy is made of
    hard links beside the prefix (Wine replaces the registry files it saves,
    never writes into them)."""
    source = setting["env"]["WINEPREFIX"]
    copy = "%s-fresh-%d" % (source, os.getpid())
    shutil.rmtree(copy, ignore_errors=True)
    shutil.copytree(source, copy, symlinks=True, copy_function=link_or_copy)
    fresh = dict(setting, env=dict(setting["env"], WINEPREFIX=copy), started=[], prompt=None,
                 own_wineserver=True, prefix_copy=copy, scratch=tempfile.mkdtemp(prefix="mirvane-e2e-"))
    subprocess.run(["wineserver", "-p"], env=fresh["env"], timeout=30, check=True)
    return fresh


def link_or_copy(source, destination):
    try:
        os.link(source, destination)
    except OSError:
        shutil.copy2(source, destination)


def stop_everything(setting):
    for standin in setting["started"]:
        stop_process(standin)
    setting["started"] = []
    prompt = setting["prompt"]
    if prompt:
        try:
            prompt.stdin.write(b"exit\r\n")
            prompt.stdin.flush()
        except OSError:
            pass
        stop_process(prompt)
        setting["prompt"] = None
    stop_wine_server(setting)
    if setting.get("prefix_copy"):
        # The server saves the registry as it quits: only then may its prefix go.
        subprocess.run(["wineserver", "-w"], env=setting["env"], timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(setting["prefix_copy"], ignore_errors=True)
    shutil.rmtree(setting["scratch"], ignore_errors=True)


def resident_kib(pid):
    """A live process's resident memory (VmRSS) in KiB: what a read of its
    memory may grow."""
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


# ---------------------------------------------------------------- the stand-in

def start_standin(setting, scenario, milliseconds=None):
    """Starts the stand-in; returns its process, PID, whether the tool should
    find the RAM and its base (0 where not found, and for a RAM at address 0)
    and, where the scenario has one, the base a walk cut short finds. With
    `milliseconds` it ends on its own that long after it is ready."""
    command = [setting["standin"], scenario, "--seconds", "300"]
    if milliseconds:
        command[2:] = ["--milliseconds", str(milliseconds)]
    if setting["wine"]:
        command = [setting["wine"]] + command
    command = setting["emulator"] + command
    # Under Wine the stand-in heeds its time limit only when its input is no pipe.
    standin_input = subprocess.DEVNULL if milliseconds and setting["wine"] else subprocess.PIPE
    # Its reason, when it can't stage the scenario, goes to a file: a pipe nobody reads could fill.
    problem_file = os.path.join(setting["scratch"], "standin-%d.err" % time.monotonic_ns())
    with open(problem_file, "wb") as problem:
        process = subprocess.Popen(command, env=setting["env"], stdin=standin_input,
                                   stdout=subprocess.PIPE, stderr=problem)
    setting["started"].append(process)
    try:
        found, data = read_until(process.stdout, re.compile(rb"(ready|unsupported|failed)\r?\n"),
                                 STANDIN_READY_SECONDS, "the stand-in (%s)" % scenario)
    except RuntimeError:
        release_standin(setting, process)
        raise
    if found.group(1) != b"ready":
        release_standin(setting, process)
        with open(problem_file, "rb") as problem:
            reason = problem.read().decode("ascii", "replace").strip()
        if found.group(1) == b"unsupported":
            raise Skip("the stand-in can't stage %s on this platform (%s)" % (scenario, reason))
        raise RuntimeError("the stand-in could not stage %s (%s)" % (scenario, reason))
    pid = int(re.search(rb"pid (\d+)", data).group(1))
    # Eight digits, more for an address above 4 GiB.
    expect = int(re.search(rb"expect 0x([0-9A-F]{8,16})\r?\n", data).group(1), 16)
    cut_short = re.search(rb"cut-short 0x([0-9A-F]{8,16})\r?\n", data)
    found = expect != 0
    # The 64-bit tools count views of one memory as one sighting, the view a
    # user can write, take private copies beside it for copies, read a mapping
    # whose pages differ in protection as one region, and find a RAM at 0; the
    # 32-bit one sees the RAM once per view, each region alone, and no RAM at 0.
    wide = re.search(rb"wide 0x([0-9A-F]{8,16})\r?\n", data)
    if wide and setting["address_bits"] == 64:
        expect = int(wide.group(1), 16)
        found = True
    return {"process": process, "pid": pid, "expect": expect, "found": found,
            "cut_short": int(cut_short.group(1), 16) if cut_short else None}


def standin_scenarios(setting, prefix):
    """The names of the stand-in's scenarios that start with `prefix`, as it lists them."""
    command = setting["emulator"] + ([setting["wine"]] if setting["wine"] else []) + [setting["standin"], "--list"]
    listed = subprocess.run(command, env=setting["env"], timeout=STANDIN_READY_SECONDS, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, check=True).stdout
    names = [line.split()[0].decode("ascii") for line in listed.splitlines() if line.strip()]
    return [name for name in names if name.startswith(prefix)]


def release_standin(setting, process):
    stop_process(process)
    if process in setting["started"]:
        setting["started"].remove(process)


def stop_standin(setting, standin):
    release_standin(setting, standin["process"])


# ---------------------------------------------------------------- the tool

# Seen once in many runs: glibc's loader, tearing a Wine process down after
# the Windows program has ended, asserts on the way out and says so on the
# process's standard error. It is Wine's, not the tool's: it is taken out, and
# said on our own output, so a run shows it was seen.
LOADER_NOISE = b"Inconsistency detected by ld.so: dl-fini.c"


def without_loader_noise(error):
    kept = [line for line in error.splitlines(True) if not line.startswith(LOADER_NOISE)]
    if len(kept) != len(error.splitlines(True)):
        print("note: Wine's loader asserted at a process's exit (glibc's dl-fini); its line was taken out", flush=True)
    return b"".join(kept)


def run_tool(setting, arguments):
    """Runs the tool; returns its standard output, its standard error and its
    exit status (under Wine the full 32-bit one, read from the error level, as
    unsigned; standard error goes to a file there, read back)."""
    if setting["wine"]:
        error_file = os.path.join(setting["scratch"], "stderr.txt")
        if os.path.exists(error_file):
            os.remove(error_file)
        line = '"%s" %s 2> "%s"' % (windows_path(setting["tool"]), " ".join(arguments), windows_path(error_file))
        output, status = run_at_prompt(setting, line)
        with open(error_file, "rb") as error:
            return output, without_loader_noise(error.read()), status
    # "command": how to start the tool where it isn't run by its path alone (in a chroot).
    command = setting.get("command") or setting["emulator"] + [setting["tool"]]
    completed = subprocess.run(command + arguments, env=setting["env"], timeout=TOOL_SECONDS,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return completed.stdout, completed.stderr, completed.returncode


def tool_name(tool):
    """How the tool names itself on standard error: its file name, without ".exe"."""
    name = os.path.basename(tool)
    return name[:-4] if name.lower().endswith(".exe") else name


def reason_problems(error, tool, explains, line_end, wanted=None):
    """What is wrong with the standard error of a run whose answer is 0. A tool
    that explains writes one line per cause, each starting with its name and
    with no line break inside (natively no control byte at all; on Windows the
    console's code page shows some bytes below 0x20 as letters); `wanted`
    lists a fragment for each line, in order (None: any reason). One that
    doesn't explain writes nothing."""
    if not explains:
        return ["standard error is not empty: %r" % error[:300]] if error else []
    if not error.endswith(line_end):
        return ["no reason line on standard error: %r" % error[:300]]
    lines = error[:-len(line_end)].split(line_end)
    prefix = tool_name(tool).encode("ascii") + b": "
    stray = b"\r\n" if line_end == b"\r\n" else bytes(range(0x20))
    problems = ["not a reason line: %r" % line[:300] for line in lines
                if not line.startswith(prefix) or any(byte in stray for byte in line)]
    if wanted is not None and len(lines) != len(wanted):
        problems.append("%d reason line(s), %r; wanted %d" % (len(lines), error[:600], len(wanted)))
    for line, fragment in zip(lines, wanted or []):
        if fragment is not None and fragment.encode("ascii") not in line:
            problems.append("the reason %r does not say %r" % (line[:300], fragment))
    return problems


def check_reasons(setting, error, wanted, by_kernel=False):
    """Checks standard error after a run: no reason at all where `wanted` is
    empty (found, help, usage), else the reasons the 64-bit tools give; where
    they found the RAM by its kernel area (`by_kernel`), exactly their note."""
    if not wanted:
        if by_kernel and setting["address_bits"] == 64:
            note = ("%s: %s" % (tool_name(setting["tool"]), KERNEL_NOTE)).encode("ascii") + setting["line_end"]
            if error != note:
                raise AssertionError("standard error is %r; wanted %r" % (error[:300], note))
            return
        if error:
            raise AssertionError("standard error is not empty: %r" % error[:300])
        return
    problems = reason_problems(error, setting["tool"], setting["address_bits"] == 64, setting["line_end"], wanted)
    if problems:
        raise AssertionError("; ".join(problems))


def start_tool(setting, arguments, wrapper=(), stdout=subprocess.PIPE):
    """Starts the tool without waiting, as a process of its own (under Wine:
    its Unix process), so that its PID and memory can be watched."""
    command = (list(wrapper) + ([setting["wine"]] if setting["wine"] else []) + setting["emulator"] + [setting["tool"]]
               + arguments)
    return subprocess.Popen(command, env=setting["env"], stdin=subprocess.DEVNULL, stdout=stdout,
                            stderr=subprocess.PIPE)


def finish_tool(tool):
    """(stdout, stderr, exit status); fails when the tool doesn't end in time."""
    try:
        output, error = tool.communicate(timeout=TOOL_SECONDS)
    except subprocess.TimeoutExpired:
        tool.kill()
        tool.communicate()
        raise AssertionError("the tool did not end within %d s" % TOOL_SECONDS)
    return output or b"", error, tool.returncode


def with_standin(setting, scenario, check):
    """Runs check(standin) against a stand-in started for it, and stops it."""
    standin = start_standin(setting, scenario)
    try:
        return check(standin)
    finally:
        stop_standin(setting, standin)


def run_at_prompt(setting, line):
    """Runs one command line at the waiting prompt; the error level that it
    leaves is read right after it, so it is the full 32-bit status."""
    prompt = setting["prompt"]
    prompt.stdin.write(line.encode("ascii") + b" & echo @@status=!errorlevel!@@\r\n")
    prompt.stdin.flush()
    found, data = read_until(prompt.stdout, STATUS_LINE, TOOL_SECONDS, "the command prompt")
    if data[found.end():]:
        raise RuntimeError("unexpected output after the status: %r" % data[found.end():])
    return data[:found.start()], int(found.group(1)) & 0xFFFFFFFF


def run_batch(setting, batch, arguments, answer):
    """Runs a batch file in a prompt of its own (cmd /c), with `answer` as its
    input; returns its output and exit status (the low 8 bits, as Wine gives it)."""
    command = [setting["wine"], "cmd", "/c", windows_path(batch)] + arguments
    completed = subprocess.run(command, env=setting["env"], cwd=setting["scratch"], input=answer,
                               timeout=TOOL_SECONDS, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return completed.stdout, completed.returncode


def run_cases(cases, description, with_bat=False, with_wine_standin=False):
    """Parses the common options, runs every case (one failing case doesn't
    stop the others) and returns the exit status: 1 when any case failed."""
    parser = argparse.ArgumentParser(description=description, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", required=True, help="Mirvane or Mirvane.exe")
    parser.add_argument("--standin", required=True, help="the stand-in emulator of the same build")
    parser.add_argument("--wine", metavar="LOADER",
                        help="run the Windows build under Wine with this loader (wine, or wine64 for the 64-bit build)")
    parser.add_argument("--address-bits", type=int, choices=(32, 64), required=True,
                        help="the width of the tool's host addresses, as it was built")
    parser.add_argument("--wineprefix", help="the Wine prefix to use")
    if with_bat:
        parser.add_argument("--bat", help="Mirvane.bat, to test it too (under Wine)")
    parser.add_argument("--emulator", action="append", metavar="WORD",
                        help="run the tool and the stand-in under this user-mode emulator (a Linux build for another "
                             "processor); each --emulator=WORD adds a word to its command")
    if with_wine_standin:
        parser.add_argument("--wine-standin", help="the win64 build's stand-in, for the native tool to find under Wine")
        parser.add_argument("--wine64", metavar="LOADER", help="Wine's 64-bit loader, to run it with")
    parser.add_argument("--only", metavar="TEXT", help="run only the cases whose title holds TEXT")
    options = parser.parse_args()
    if options.only:
        cases = [(title, case) for title, case in cases if options.only in title]

    setting = make_setting(options.tool, options.standin, options.wine, options.address_bits,
                           options.wineprefix,
                           options.bat if with_bat else None,
                           options.wine_standin if with_wine_standin else None,
                           options.wine64 if with_wine_standin else None,
                           options.emulator)
    failures = 0
    try:
        if options.wine:
            start_wine(setting)
        for title, case in cases:
            started = time.monotonic()
            try:
                note = case(setting)
                print("ok    %s %s[%.1f s]" % (title, note + " " if note else "", time.monotonic() - started),
                      flush=True)
            except Skip as reason:
                print("skip  %s: %s" % (title, reason), flush=True)
            except Exception as failure:
                failures += 1
                print("FAIL  %s: %s" % (title, failure), flush=True)
                if not isinstance(failure, AssertionError):
                    traceback.print_exc(file=sys.stdout)
    finally:
        stop_everything(setting)
    print("%d case(s) failed" % failures if failures else "all cases passed", flush=True)
    return 1 if failures else 0
