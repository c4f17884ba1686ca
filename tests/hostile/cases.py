"""What the hostile server sends, one scenario a session.
Every choice comes from the session's seeded generator: a session replays
byte for byte."""
import os
import struct
import time

from bmp import bmp_file
from peer import PRINTER, p, record

EDGE_WORDS = (0, 1, 2, 3, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF, 0x10000)
# 4 and 5 open a dialog that waits for a person; 7 shuts the shared desktop down.
NEVER_SENT = (p.DOCUMENT_PROPERTIES, p.DEVICE_PROPERTIES, p.SHUTDOWN)
SESSION_ENDING = (p.PRINT_DONE, p.CANCEL_PRINT_DONE)
NAME_BYTES = bytes(b for b in range(1, 256) if b not in b"\\/.:")  # stays inside our folder
# (offset, size) of the BMP headers' sizes, offsets, dimensions, depth...
FIELDS = ((2, 4), (10, 4), (14, 4), (18, 4), (22, 4), (26, 2), (28, 2), (30, 4), (34, 4), (46, 4))


def output_name(session, rng, name=b"out"):
    return b"%s\\%s-%d.ps" % (session.run.out_folder.encode(), name, rng.randrange(1 << 30))


def hostile_record(session, rng):
    folder, printer = session.run.out_folder.encode(), PRINTER.encode()

    def word(sane):
        return rng.choice((sane, sane, rng.getrandbits(32), rng.randrange(1000)) + EDGE_WORDS)

    # Drawn in this order, so that a seed replays the same session.
    job_id = rng.getrandbits(32)
    odd = rng.randbytes(rng.randrange(1, 127)).replace(b"\0", b"x")
    printers = (printer,) * 6 + (odd, b"", bytes(rng.randrange(1, 256) for _ in range(128)))
    kw = dict(printer=rng.choice(printers + (printer + b"\0" + rng.randbytes(20),)))
    outputs = (output_name(session, rng),) * 5
    outputs += (folder + b"\\missing-%d\\out.ps" % rng.randrange(1 << 20), b"")
    length = rng.choice((128, rng.randrange(1, 100)))
    outputs += (folder + b"\\" + bytes(rng.choice(NAME_BYTES) for _ in range(length)),)
    outputs += (folder + b"/slash-%d.ps" % rng.randrange(1 << 20),)
    outputs += (b"\\" + folder + b"\\rooted-%d.ps" % rng.randrange(1 << 20),)
    kw["output"] = rng.choice(outputs)
    kw["page_count"] = rng.choice((0, 1, 2, 3, 0xFFFFFFFF, rng.randrange(1, 10)))
    kw["fields"] = rng.choice((0, 0xFF, rng.randrange(256), rng.getrandbits(32)))
    kw.update(collate=word(1), copies=word(1), duplex=word(1), paper_source=word(7))
    kw.update(scale=rng.choice((0,) * 8 + (1, rng.getrandbits(32))), y_resolution=word(300))
    kw["paper"] = rng.choice((0, 595 << 16 | 842, 1 << 16 | 1, rng.getrandbits(32), 0xFFFFFFFF))
    kw["quality"] = rng.choice((0, -1, -4, 300, 0x7FFFFFFF, -0x80000000, rng.randrange(-10, 1200)))
    kw.update(color=word(2), data_type=rng.choice((1, 1, 1, 1, 1, 2, 0, 3, rng.getrandbits(32))))
    tail = rng.randbytes(rng.randrange(1, 64)) if rng.random() < 0.1 else b""
    return record(job_id, **kw) + tail


def random_bmp(rng, corrupt=False):
    width, height = rng.randrange(1, 120), rng.randrange(1, 120)
    bits = rng.choice((1, 4, 8, 16, 24, 32))
    rows = [rng.randbytes((width * bits + 7) // 8) for _ in range(height)]
    palette = [tuple(rng.randbytes(3)) for _ in range((1 << bits) * (bits <= 8))]
    data = bytearray(bmp_file(width, height, bits, rows, palette, top_down=rng.random() < 0.5))
    for _ in range(rng.randrange(1, 4) * corrupt):  # sizes, offsets, dimensions, depth...
        if rng.random() < 0.7:
            offset, width = rng.choice(FIELDS)
            odd = (rng.getrandbits(32), rng.randrange(-5, 300), len(data), len(data) + 1)
            value = rng.choice(EDGE_WORDS + odd + (3, 12, 108, 124))
            data[offset : offset + width] = (value % (1 << 8 * width)).to_bytes(width, "little")
        else:  # ...or a file cut short
            data = data[: rng.randrange(2, len(data))]
    return bytes(data)


def page_body(session, rng, kind=None):
    """The body of a page message: a hostile path, or a path to a hostile file."""
    kinds = "valid corrupt corrupt random empty missing dir nonul junk long binary relative nul"
    kind = kind or rng.choice(kinds.split())
    path = os.path.join(session.run.pages_dir, "%d.bmp" % rng.randrange(1 << 30))
    contents = {"valid": random_bmp, "corrupt": lambda rng: random_bmp(rng, True)}
    contents["empty"] = lambda rng: b""
    contents["random"] = lambda rng: rng.choice((b"", b"BM")) + rng.randbytes(
        rng.randrange(1, 4096)
    )
    if kind in contents:
        with open(path, "wb") as f:
            f.write(contents[kind](rng))
    raw = os.fsencode(path)
    bodies = {"nonul": raw, "relative": b"relative/page.bmp\0", "nul": b"\0"}
    bodies["dir"] = os.fsencode(session.run.pages_dir) + b"\0"
    bodies["junk"] = raw + b"\0" + rng.randbytes(rng.randrange(1, 64))  # drawn whatever the kind
    bodies["long"] = b"/" + b"a" * rng.randrange(300, 5000) + b"\0"
    bodies["binary"] = bytes(rng.randrange(1, 256) for _ in range(rng.randrange(1, 300))) + b"\0"
    return bodies.get(kind, raw + b"\0")


def start_job(session, rng, pages, scale=0):
    """A real job on the rig's printer; its id, or None when it was refused.
    Wine numbers spool files per process, so a first document collides with
    any other program of the shared prefix that holds the same number open
    (1, a sharing violation): the job is ended and started again."""
    job_id = rng.randrange(1, 1 << 31)
    body = record(job_id, output_name(session, rng, b"job"), page_count=pages, scale=scale)
    for _ in range(3):
        answer = session.answer(p.START_PRINT, body)[:4]
        if answer != p.u32(1):
            break
        session.answer(p.END_JOB, p.u32(job_id))
        time.sleep(0.5)
    if answer != p.u32(0):
        return None
    if session.answer(p.GET_PRINT_PAGE, p.u32(job_id))[:4] != bytes(4):
        session.find("protocol", "no page size for a started job")
    return job_id


def random_message(session, rng, codes):
    """A message of one of `codes` (None: any but NEVER_SENT) with a random,
    hostile or plain wrong body."""
    anything = (1, 1, 2, 2, 3, 6, 8, 8, 0x3002, 0x3001, 0x3003, 0, 9, 0x1001, 0x2001, 0xFFFF)
    code = rng.choice(codes or anything + (rng.randrange(9, 0x10000),))
    while code in NEVER_SENT:
        code = rng.randrange(9, 0x10000)
    sizes = (0, 1, 3, 4, 7, 8, 307, 308, 309, rng.randrange(0, 64), rng.randrange(0, 4096))
    size = rng.choice(sizes + (rng.randrange(1 << 16, 8 << 20) * (rng.random() < 0.1),))
    if code == 1 and rng.random() < 0.6:
        return code, hostile_record(session, rng)
    if code == 2 and rng.random() < 0.7:
        return code, page_body(session, rng)
    return code, rng.randbytes(min(size, 7) if code in SESSION_ENDING else size)  # dropped


def forged(
    code, req_id, body=b"", magic=p.MAGIC, version=p.VERSION, trailer=p.TRAILER, length=None
):
    """A packet whose keywords break it."""
    length = len(body) if length is None else length
    return p.HEADER.pack(magic, version, code, req_id, length) + body + p.TRAILER_WORD.pack(trailer)


def bad_frame(rng):
    """A packet the program must refuse, and the status it reports."""
    code = rng.getrandbits(16)
    lengths = (0xFFFFFFFF, 0xFFFFFFFC, (16 << 20) + 1, 0x80000000)
    frames = [
        (forged(code, 1, magic=rng.choice((0, 0x2211BBAA, 0xAABB1123))), 2),
        (forged(code, 1, b"x", version=rng.choice((0, 1, 3, 0x200, 0xFFFF))), 4),
        (forged(3, 1, p.u32(0), trailer=rng.choice((0xCCDD3345, 0x4433DDCC, 0))), 2),
        (forged(3, 1, length=rng.choice(lengths))[:16], 11),
        (forged(3, 1, bytes(range(1, 9)), length=4), 2),  # trailer read inside the body
    ]
    return rng.choice(frames)


def expect_failure(session, status, timeout=120):
    """The program reports a reception failure with `status` and closes."""
    if (p.RECEIVE_FAILED, p.text_body(status)) not in session.read(timeout=timeout):
        session.find("protocol", "no 0x2004 with status %d" % status)


def end_session(session, rng, how=None):
    """A notice, the server leaving, or a broken, cut or overlong packet."""
    how = how or rng.choice("done cancel close reset halfclose badframe truncated promise".split())
    if how in ("done", "cancel"):
        text = rng.randbytes(rng.randrange(0, 40))
        length = rng.choice((len(text), 0, len(text) + 1, 0xFFFFFFFF))
        body = struct.pack(">iI", rng.getrandbits(32) - (1 << 31), length) + text
        session.send(p.frame(p.PRINT_DONE if how == "done" else p.CANCEL_PRINT_DONE, 0, body))
        session.read()
    elif how == "badframe":
        data, status = bad_frame(rng)
        session.send(data)
        expect_failure(session, status)
    elif how in ("truncated", "promise"):  # half a packet, or less body than its length says
        length = rng.choice((rng.randrange(1, 64), rng.randrange(1 << 20, 16 << 20)))
        if how == "truncated":
            session.send(p.frame(3, 1, p.u32(0))[: rng.randrange(1, 24)])
        else:
            head = forged(rng.getrandbits(16), 5, length=length)[:16]
            session.send(head + rng.randbytes(rng.randrange(0, min(length, 4096))))
        end_session(session, rng, rng.choice(("close", "reset", "halfclose")))
    else:
        session.read("answers")
        session.go_away(how)
        if how == "halfclose":
            expect_failure(session, 6)


# --- scenarios, one a session ---------------------------------------------------


def attack(codes=None, job=False):
    """Messages of `codes`, one by one or in bursts, in a real job or not."""

    def scenario(session, rng):
        if job:
            start_job(session, rng, rng.randrange(1, 7), scale=int(rng.random() < 0.05))
        for _ in range(rng.randrange(1, 8 if job else 40)):
            session.request(*random_message(session, rng, codes))
            if rng.random() < 0.7:
                session.read("answers")
        end_session(session, rng)

    return scenario


def fault(session, rng):
    """The server leaves in the middle of a real job."""
    pages, slowest = rng.randrange(2, 6), 0.0
    start_job(session, rng, pages)
    for _ in range(rng.randrange(0, pages)):
        started = time.monotonic()
        session.answer(p.PAGE_FILENAME, page_body(session, rng, "valid"))
        slowest = max(slowest, time.monotonic() - started)
    how = rng.choice(("close", "reset", "halfclose", "inflight"))
    if how == "inflight":  # gone before the page's answer: the page may still print first
        session.send(p.frame(p.PAGE_FILENAME, 1, page_body(session, rng, "valid")))
        return session.go_away(rng.choice(("close", "reset")), allowance=max(1.0, 2 * slowest))
    end_session(session, rng, how)


# kind: (weight, scenario)
SCENARIOS = {
    "random": (45, attack()),
    "record": (15, attack((1, 1, 1, 2, 6))),
    "pages": (20, attack((2,), job=True)),
    "fault": (20, fault),
}
