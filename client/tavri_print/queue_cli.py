"""tavri-cups-queue: lists the Wine printers of a prefix, and creates the
CUPS queue that prints on one of them, with a PPD made from what the
printer's driver reports."""
import argparse
import os
import subprocess
import sys
import tempfile

from . import capabilities, device_uri, ppd
from .owner import Owner, OwnerError
from .program import default_exe, default_wine

NAME = "tavri-cups-queue"
QUERY_TIMEOUT = 180


class QueueError(Exception):
    """The queue cannot be made as asked; the text says why."""


def query_exe():
    return os.path.join(os.path.dirname(default_exe()), "tavri-printer-query.exe")


def run_query(owner, args, exe=None):
    """The query program's output, run in the owner's prefix as the owner."""
    env = owner.env(device_uri.Target("", owner.name, ""), "query", os.environ)
    drop = {}
    if os.geteuid() == 0:
        drop = {"user": owner.pw.pw_uid, "group": owner.pw.pw_gid,
                "extra_groups": os.getgrouplist(owner.name, owner.pw.pw_gid)}
    elif os.geteuid() != owner.pw.pw_uid:
        raise QueueError("run this as root or as %s, who owns the Wine prefix" % owner.name)
    command = [default_wine(), exe or query_exe()] + args
    # Files, not pipes: the Wine services that a first program starts inherit
    # its output and outlive it, so a pipe would never reach its end.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            code = subprocess.run(command, env=env, cwd="/", stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=QUERY_TIMEOUT,
                                  **drop).returncode
        except (OSError, subprocess.TimeoutExpired) as error:
            raise QueueError("cannot ask Wine in %s: %s" % (owner.prefix, error))
        if code != 0:
            err.seek(0)
            said = err.read().decode("utf-8", "replace").strip().splitlines()
            raise QueueError("Wine in %s: %s" % (owner.prefix, said[-1] if said else
                                                 "the query failed (%d)" % code))
        out.seek(0)
        return out.read().decode("utf-8", "replace")


def list_printers(owner, args):
    print("Wine printers of %s (prefix %s):" % (owner.name, owner.prefix))
    for line in run_query(owner, ["printers"], args.query_exe).splitlines():
        name, driver = (line.split("\t") + ["", ""])[:2]
        uri = device_uri.make(device_uri.Target(name, owner.name, args.to or "DESTINATION",
                                                args.prefix or ""))
        print("  %s  (%s)\n    %s" % (name, driver, uri))
    return 0


def check_destination(queue, to):
    """ValueError for a destination that would bring a job back here."""
    dest = device_uri.destination(to)
    target = device_uri.local_queue(dest)
    if target == queue:
        raise QueueError("--to %s would bring every job back to the queue %s" % (to, queue))
    if target and device_uri.queue_device(target).startswith("tavri:"):
        raise QueueError("--to %s is a queue that prints through Wine again" % to)
    if dest.kind == "folder" and not os.path.isdir(dest.where):
        raise QueueError("the destination folder %s does not exist" % dest.where)


def create_queue(owner, args):
    check_destination(args.queue, args.to)
    if device_uri.queue_device(args.queue) and not args.replace:
        raise QueueError("the queue %s exists already (--replace changes it)" % args.queue)
    caps = capabilities.parse(run_query(owner, ["capabilities", args.wine_printer],
                                        args.query_exe))
    run_query(owner, ["font-link"], args.query_exe)
    target = device_uri.Target(args.wine_printer, owner.name, args.to, args.prefix or "",
                               args.display or "", args.xauthority or "", args.exe or "")
    with tempfile.NamedTemporaryFile("w", suffix=".ppd", encoding="ascii") as text:
        text.write(ppd.ppd_text(caps, args.queue))
        text.flush()
        command = ["lpadmin", "-p", args.queue, "-E", "-v", device_uri.make(target),
                   "-P", text.name, "-D", "Wine printer %s" % args.wine_printer]
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                text=True)
    if result.returncode != 0:
        raise QueueError("lpadmin: %s" % (result.stderr.strip() or "failed"))
    print("%s prints on the Wine printer %s of %s: %d papers, %s, %s"
          % (args.queue, args.wine_printer, owner.name, len(caps.papers),
             "colour" if caps.color else "monochrome",
             "duplex" if caps.duplex else "one-sided"))
    return 0


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog=NAME, description="List the Wine printers of a prefix, or create a CUPS queue "
        "that prints on one of them.")
    parser.add_argument("queue", nargs="?", help="name of the new CUPS queue")
    parser.add_argument("wine_printer", nargs="?", help="printer name in the Wine prefix")
    parser.add_argument("--list", action="store_true", help="list the prefix's Wine printers")
    parser.add_argument("--user", required=True, help="the Wine prefix's owner, whom jobs "
                        "run as (never root)")
    parser.add_argument("--to", help="where the driver's output goes: a folder, "
                        "queue:NAME, or a backend URI such as socket://HOST:9100")
    parser.add_argument("--prefix", help="the Wine prefix (default: ~USER/.wine)")
    parser.add_argument("--display", help="X display for the progress window, e.g. :0")
    parser.add_argument("--xauthority", help="the display's authority file (default: "
                        "~USER/.Xauthority)")
    parser.add_argument("--exe", help="the program (default: %s)" % default_exe())
    parser.add_argument("--query-exe", help=argparse.SUPPRESS)
    parser.add_argument("--replace", action="store_true", help="change an existing queue")
    args = parser.parse_args(argv)
    if not args.list and not (args.queue and args.wine_printer and args.to):
        parser.error("QUEUE, WINE-PRINTER and --to are needed (or --list)")
    for name in ("prefix", "exe", "query_exe"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    return args


def main(argv=None):
    args = parse_args(argv)
    try:
        owner = Owner(args.user, args.prefix or "")
        return list_printers(owner, args) if args.list else create_queue(owner, args)
    except (QueueError, OwnerError, capabilities.CapabilitiesError, ValueError) as error:
        print("%s: %s" % (NAME, error), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
