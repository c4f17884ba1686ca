"""The rig's X display and Wine prefixes as the dialog tests use them: the
program's windows found with xdotool, and a Wine prefix of a test's own for
what must not touch the shared one.
"""
import os
import shutil
import subprocess
import time

import peer


def rig_settings():
    """DISPLAY, WINEPREFIX, WINESERVER and PROXY_TEST_PRINTER as
    scripts/env.sh makes them for programs started through scripts/wine-run."""
    script = ('. "$1"; printf "%s\\n" "$DISPLAY" "$WINEPREFIX" "$WINESERVER" '
              '"$PROXY_TEST_PRINTER"')
    out = subprocess.run(["bash", "-c", script, "_", os.path.join(peer.SOURCE_DIR, "scripts", "env.sh")],
                         stdout=subprocess.PIPE, check=True, text=True).stdout.split("\n")
    return dict(zip(("DISPLAY", "WINEPREFIX", "WINESERVER", "PROXY_TEST_PRINTER"), out))


RIG = rig_settings()


def display_problem():
    """Why the dialogs cannot be driven here, or None when they can."""
    for tool in ("xdotool", "xdpyinfo"):
        if shutil.which(tool) is None:
            return "%s is not installed" % tool
    probe = subprocess.run(["xdpyinfo", "-display", RIG["DISPLAY"]], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    if probe.returncode != 0:
        return "no X server on %s (start the rig: scripts/services start)" % RIG["DISPLAY"]
    return None


def xdotool(*args):
    result = subprocess.run(["xdotool"] + [str(a) for a in args], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True,
                            env=dict(os.environ, DISPLAY=RIG["DISPLAY"]))
    return result.stdout.split()


def wait_for_window(*search, seconds=15):
    """The first visible window that `xdotool search --onlyvisible` finds
    with `search` (e.g. "--pid", pid or "--name", regex), or None."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        windows = xdotool("search", "--onlyvisible", *search)
        if windows:
            return windows[0]
        time.sleep(0.1)
    return None


def descendants(pid):
    """`pid` and every process below it (wine-run starts Wine as a child)."""
    parents = {}
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % entry) as f:
                parents.setdefault(int(f.read().rsplit(")", 1)[1].split()[1]), []).append(int(entry))
        except (OSError, ValueError, IndexError):
            pass
    found, todo = [], [pid]
    while todo:
        found.append(todo.pop())
        todo += parents.get(found[-1], [])
    return found


def wait_for_program_window(process, seconds=15):
    """The first visible window of `process` or of a process it started."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        for pid in descendants(process.pid):
            windows = xdotool("search", "--onlyvisible", "--pid", pid)
            if windows:
                return windows[0]
        time.sleep(0.1)
    return None


def screenshot(window, name):
    """Keeps a picture of `window` in <build>/artifacts/`name`; its path."""
    directory = os.path.join(peer.BUILD_DIR, "artifacts")
    os.makedirs(directory, exist_ok=True)
    geometry = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window))
    crop = "%sx%s+%s+%s" % (geometry["WIDTH"], geometry["HEIGHT"], geometry["X"], geometry["Y"])
    path = os.path.join(directory, name)
    subprocess.run(["import", "-display", RIG["DISPLAY"], "-window", "root", "-crop", crop,
                    "+repage", path], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def press(window, key):
    """Focuses `window` (Wine draws its own frame; no window manager runs)
    and presses `key`."""
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "--clearmodifiers", key)


def wine_env(prefix=None):
    env = dict(os.environ)
    if prefix:
        env["WINEPREFIX"] = prefix
    return env


def wineserver(prefix, *args, timeout=60):
    return subprocess.run([RIG["WINESERVER"]] + list(args), env=wine_env(prefix),
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout).returncode


def own_prefix(name):
    """A Wine prefix under the build tree that only the calling test uses,
    created on first use (that takes a while) and kept for later runs."""
    prefix = os.path.join(peer.BUILD_DIR, name)
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        subprocess.run([peer.WINE_RUN, "wineboot", "-i"], env=wine_env(prefix), timeout=300,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        wineserver(prefix, "-w", timeout=120)
    return prefix


def running(pid):
    """True while process `pid` exists and has not ended (a zombie has)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return False
    return state != "Z"


def wait_until_ended(pid, seconds):
    deadline = time.monotonic() + seconds
    while running(pid) and time.monotonic() < deadline:
        time.sleep(0.1)
    return not running(pid)


def recorded_process_running(pid_file):
    """Whether the process whose pid `pid_file` holds runs; None when there
    is no such file."""
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return None
    return running(pid)


def window_pid(window):
    pids = xdotool("getwindowpid", window)
    return int(pids[0]) if pids else None
