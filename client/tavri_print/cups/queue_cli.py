"""tavri-cups-queue: lists the Wine printers of a prefix, and creates the
CUPS queue that prints on one of them, with a PPD made from what the
printer's driver offers. Both come from tavri-print (`--list`,
`--capabilities`), run as the prefix's owner: the engine reads the
driver's report for every front end."""
from __future__ import annotations

import argparse
import grp
import json
import os
import re
import subprocess
import sys
import tempfile
from typing import BinaryIO, Dict, List, Optional

from .programs import default_exe, default_wine, tavri_print, worker
from . import credentials, device_uri, ppd
from .cupsd import one_line
from .device_uri import Destination, Target
from .owner import Owner, OwnerError

NAME = "tavri-cups-queue"
QUERY_TIMEOUT = 180
MAX_ANSWER = 16 << 20  # a printer's capabilities are a few KiB


class QueueError(Exception):
    """The queue cannot be made as asked; the text says why."""


def as_owner(owner: Owner) -> Dict[str, object]:
    """How root starts a process as the owner: the owner's groups and ids,
    and a session of its own, so that nothing it runs can reach root's
    terminal (to push keystrokes into root's shell)."""
    if os.geteuid() == 0:
        return {
            "user": owner.pw.pw_uid,
            "group": owner.pw.pw_gid,
            "start_new_session": True,
            "extra_groups": os.getgrouplist(owner.name, owner.pw.pw_gid),
        }
    if os.geteuid() != owner.pw.pw_uid:
        raise QueueError("run this as root or as %s, who owns the Wine prefix" % owner.name)
    return {"start_new_session": True}


def run_as_owner(
    owner: Owner, command: List[str], what: str, display: str = "", xauthority: str = ""
) -> str:
    """The output of `command`, run in the owner's prefix as the owner; an
    answer of over MAX_ANSWER bytes is refused unread. A failure names
    `what` failed, and why in the command's last line on standard error
    (without its own name). With the queue's `display` and its authority
    file: the Wine desktop that a first program starts stays up a moment
    after it, and a job's progress window opens only on a desktop that has
    a display."""
    env = owner.env("query", os.environ, display, xauthority)
    # Files, not pipes: the Wine services that a first program starts inherit
    # its output and outlive it, so a pipe would never reach its end.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            code = subprocess.run(
                command,
                env=env,
                cwd="/",
                stdin=subprocess.DEVNULL,
                stdout=out,
                stderr=err,
                timeout=QUERY_TIMEOUT,
                **as_owner(owner),
            ).returncode
        except (OSError, subprocess.TimeoutExpired) as error:
            raise QueueError("%s: %s" % (what, error))
        if code != 0:
            said = (tail(err).splitlines() or ["exit status %d" % code])[-1]
            said = said.removeprefix(os.path.basename(command[0]) + ": ")
            raise QueueError("%s: %s" % (what, one_line(said)))
        if os.fstat(out.fileno()).st_size > MAX_ANSWER:
            raise QueueError("%s: an answer of more than %d MiB" % (what, MAX_ANSWER >> 20))
        out.seek(0)
        return out.read(MAX_ANSWER).decode("utf-8", "replace")


def ask_engine(owner: Owner, args: argparse.Namespace, *asked: str, **display: str) -> str:
    """tavri-print's answer to `asked` on the owner's prefix, with the
    queue's program and Wine."""
    command = [args.tavri_print or tavri_print(), *asked]
    command += ["--exe", args.exe or default_exe(), "--wine-run", default_wine()]
    return run_as_owner(owner, command, "tavri-print " + asked[0], **display)


def link_window_font(owner: Owner, args: argparse.Namespace, **display: str) -> None:
    """The progress window's Chinese labels, in the locale that jobs run in
    (Wine resets the link when the code page changes)."""
    query = os.path.join(os.path.dirname(args.exe or default_exe()), "tavri-printer-query.exe")
    run_as_owner(
        owner, [default_wine(), query, "font-link"], "Wine in %s" % owner.prefix, **display
    )


def tail(file: BinaryIO, size: int = 4096) -> str:
    file.seek(max(0, os.fstat(file.fileno()).st_size - size))
    return file.read(size).decode("utf-8", "replace").strip()


def check_prefix(owner: Owner) -> None:
    """Wine would make a new prefix of a mistyped one, at 700 MB a time."""
    if not os.path.isfile(os.path.join(owner.prefix, "system.reg")):
        raise QueueError(
            "%s has no Wine prefix %s: run Wine there once as %s, or name the "
            "prefix with --prefix" % (owner.name, owner.prefix, owner.name)
        )


def list_printers(owner: Owner, args: argparse.Namespace) -> int:
    to = device_uri.destination(device_uri.public(args.to)) if args.to else None
    print("Wine printers of %s (prefix %s):" % (owner.name, owner.prefix))
    # One a line, "* " marking the default, "  " the others; only a line end
    # ends a name.
    for line in ask_engine(owner, args, "--list").split("\n")[:-1]:
        uri = device_uri.make(Target(line[2:], owner.name, to, args.prefix or ""))
        print("  %s%s\n    %s" % (line[2:], " (default)" if line[:1] == "*" else "", uri))
    return 0


def check_destination(owner: Owner, queue: str, dest: Destination) -> None:
    """QueueError for a destination that no job could reach, or that would
    bring a job back here (the engine's loop check, which each job repeats)."""
    if dest.kind == "folder":
        probe = subprocess.run(
            ["test", "-d", dest.where, "-a", "-w", dest.where, "-a", "-x", dest.where],
            stdin=subprocess.DEVNULL,
            **as_owner(owner),
        )
        if probe.returncode != 0:
            raise QueueError(
                "the destination folder %s is no folder that %s can write: "
                "create it, or give it to %s" % (dest.where, owner.name, owner.name)
            )
        return
    shown = device_uri.public(str(dest))
    run_as_owner(owner, [worker(), "--check-destination", queue, shown], "--to " + shown)
    if dest.kind == "queue" and not device_uri.queue_device(dest.where):
        raise QueueError(
            "--to queue:%s: CUPS has no such queue (lpstat -v lists them)" % dest.where
        )
    if dest.kind == "backend" and not os.path.exists(device_uri.backend_path(dest.scheme)):
        raise QueueError(
            "--to %s: CUPS has no backend for %s: (lpinfo -v lists them)" % (dest, dest.scheme)
        )


def check_group(owner: Owner, group: Optional[str]) -> None:
    """The owner can give delivered files only to a group of theirs."""
    try:
        gid = grp.getgrnam(group).gr_gid if group else None
    except KeyError:
        raise QueueError("--group %s: no such group" % group)
    if gid is not None and gid not in os.getgrouplist(owner.name, owner.pw.pw_gid):
        raise QueueError(
            "--group %s: %s is not a member (usermod -aG %s %s)"
            % (group, owner.name, group, owner.name)
        )


def check_queue_name(queue: str) -> None:
    if not re.fullmatch(r"[^\s/#\\.\x00-\x1f][^\s/#\\\x00-\x1f]{0,126}", queue):
        raise QueueError(
            "%r is no CUPS queue name (at most 127 characters, no spaces, / or #)" % queue
        )


def create_queue(owner: Owner, args: argparse.Namespace) -> int:
    check_queue_name(args.queue)
    to, userinfo = credentials.split(args.to)
    dest = device_uri.destination(to)
    check_destination(owner, args.queue, dest)
    check_group(owner, args.group)
    if device_uri.queue_device(args.queue) and not args.replace:
        raise QueueError("the queue %s exists already (--replace changes it)" % args.queue)
    display = {"display": args.display or "", "xauthority": args.xauthority or ""}
    answer = ask_engine(owner, args, "--capabilities", "--printer=" + args.wine_printer, **display)
    try:
        caps = json.loads(answer)
    except ValueError as error:
        raise QueueError("tavri-print --capabilities answered no JSON: %s" % error)
    link_window_font(owner, args, **display)
    target = Target(
        args.wine_printer,
        owner.name,
        dest,
        prefix=args.prefix or "",
        display=args.display or "",
        xauthority=args.xauthority or "",
        exe=args.exe or "",
        group=args.group or "",
        max_seconds=str(args.max_seconds or ""),
        max_output_mib=str(args.max_output or ""),
        max_page_mib=str(args.max_page or ""),
    )
    with tempfile.NamedTemporaryFile("w", suffix=".ppd", encoding="ascii") as text:
        text.write(ppd.ppd_text(caps, args.queue))
        text.flush()
        command = [
            "lpadmin",
            "-p",
            args.queue,
            "-E",
            "-v",
            device_uri.make(target),
            "-P",
            text.name,
            "-D",
            "Wine printer %s" % args.wine_printer,
        ]
        result = subprocess.run(
            command,
            stdin=subprocess.DEVNULL,
            capture_output=True,
            text=True,
            env=device_uri.cups_env(),
        )
    if result.returncode != 0:
        raise QueueError("lpadmin: %s" % one_line(result.stderr or "failed"))
    credentials.store(args.queue, userinfo)
    print(
        "%s prints on the Wine printer %s of %s: %d papers, %s, %s"
        % (
            args.queue,
            args.wine_printer,
            owner.name,
            len(caps["papers"]),
            "colour" if caps["color"] else "monochrome",
            "duplex" if caps["duplex"] else "one-sided",
        )
    )
    return 0


def positive(text: str) -> int:
    if not device_uri.LIMIT.fullmatch(text):
        raise argparse.ArgumentTypeError("expected a positive whole number")
    return int(text)


def parse_args(argv: Optional[List[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=NAME,
        description="List the Wine printers of a prefix, or create a CUPS queue "
        "that prints on one of them.",
    )
    parser.add_argument("queue", nargs="?", help="name of the new CUPS queue")
    parser.add_argument("wine_printer", nargs="?", help="printer name in the Wine prefix")
    parser.add_argument("--list", action="store_true", help="list the prefix's Wine printers")
    parser.add_argument(
        "--user", required=True, help="the Wine prefix's owner, whom jobs run as (never root)"
    )
    parser.add_argument(
        "--to",
        help="where the driver's output goes: a folder, "
        "queue:NAME, or a backend URI such as socket://HOST:9100",
    )
    parser.add_argument("--prefix", help="the Wine prefix (default: ~USER/.wine)")
    parser.add_argument("--display", help="X display for the progress window, e.g. :0")
    parser.add_argument(
        "--xauthority", help="the display's authority file (default: ~USER/.Xauthority)"
    )
    parser.add_argument(
        "--exe",
        help="the program (default: $PROXY_EXE, else the installed "
        "one, or a checkout's own build)",
    )
    parser.add_argument("--tavri-print", help=argparse.SUPPRESS)
    parser.add_argument("--replace", action="store_true", help="change an existing queue")
    parser.add_argument(
        "--group",
        help="a group of the owner's that may read what is "
        "delivered into a folder (default: the owner alone)",
    )
    limits = device_uri.LIMITS
    parser.add_argument(
        "--max-seconds",
        type=positive,
        help="a job that runs longer is cancelled (default %d)" % limits["max_seconds"],
    )
    parser.add_argument(
        "--max-output",
        type=positive,
        metavar="MIB",
        help="a job whose "
        "driver output grows larger is cancelled (default %d)" % limits["max_output_mib"],
    )
    parser.add_argument(
        "--max-page",
        type=positive,
        metavar="MIB",
        help="a job with a larger page image is cancelled (default %d)" % limits["max_page_mib"],
    )
    args = parser.parse_args(argv)
    if not args.list and not (args.queue and args.wine_printer and args.to):
        parser.error("QUEUE, WINE-PRINTER and --to are needed (or --list)")
    for name in ("prefix", "exe", "tavri_print"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    return args


def main(argv: Optional[List[str]] = None) -> int:
    args = parse_args(argv)
    try:
        owner = Owner(args.user, args.prefix or "")
        check_prefix(owner)
        return list_printers(owner, args) if args.list else create_queue(owner, args)
    except (QueueError, OwnerError, ValueError) as error:
        print("%s: %s" % (NAME, error), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
