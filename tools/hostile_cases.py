"""What tools/hostile_server.py sends: the message catalogue as the server sees
it, the answers it promises, hostile records, packets and page files, and the
scenarios of one session each. Every choice comes from the session's seeded
random generator, so a session replays byte for byte.
"""
import os
import select
import socket
import struct
import time

MAGIC, VERSION, TRAILER = 0xAABB1122, 2, 0xCCDD3344
PRINTER = os.environ.get("PROXY_TEST_PRINTER", "TavriTestPDF").encode()
EDGE_WORDS = (0, 1, 2, 3, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF, 0x10000)

# Smallest body each code needs; shorter ones are dropped unanswered.
MINIMUM_BODY = {1: 308, 2: 1, 3: 4, 4: 1, 5: 1, 6: 4, 8: 1, 0x3001: 8, 0x3003: 8}
# Actions 4 and 5 open a modal dialog that waits for a person, and 7 shuts
# the shared desktop session down: no random message carries them.
NEVER_SENT = (4, 5, 7)
SESSION_ENDING = (0x3001, 0x3003)
START_CHECK_TEXT = b"check request header failed."
START_CHECK_STATUSES = (1, 5, 8, 9, 14, 23)
START_DOC_STATUSES = (0, 1, 8, 11, 12)
PAGE_STATUSES = (0, 1, 6, 11, 15, 20, 24)
FAILURE_STATUSES = (2, 4, 6, 11, 19)


class SoakFailure(Exception):
    pass


def u32(value):
    return struct.pack(">I", value & 0xFFFFFFFF)


def frame(code, req_id, body=b"", magic=MAGIC, version=VERSION, trailer=TRAILER, length=None):
    length = len(body) if length is None else length
    return (struct.pack(">IHHII", magic, version, code, req_id, length) + body
            + struct.pack(">I", trailer))


# --- answers -----------------------------------------------------------------

def expected_answer(code, body):
    """(answer code, body check) that the catalogue promises, or None."""
    if code in MINIMUM_BODY and len(body) < MINIMUM_BODY[code]:
        return None
    if code == 0x3002 or code in SESSION_ENDING:
        return None
    check = {1: "start", 2: "page", 3: "ok", 6: "ok", 8: "size"}.get(code, "notimpl")
    return (code + 0x1000) & 0xFFFF, check


def parse_reply(body):
    if len(body) < 8:
        return None, None, "reply body of %d bytes" % len(body)
    status, length = struct.unpack(">II", body[:8])
    if len(body) != 8 + length:
        return None, None, "text length %d in a body of %d bytes" % (length, len(body))
    return status, body[8:], None


def check_body(check, body):
    """None when the body is what `check` allows, else what is wrong."""
    if check == "word":
        return None if len(body) == 4 else "body of %d bytes, not 4" % len(body)
    if check == "size":
        if len(body) != 8:
            return "page-size answer of %d bytes" % len(body)
        status = struct.unpack("<I", body[:4])[0]
        return None if status in (0, 1, 25) else "page-size status %d" % status
    status, text, problem = parse_reply(body)
    if problem:
        return problem
    wanted = {
        "ok": lambda: status == 0 and text == b"OK",
        "notimpl": lambda: status == 21 and text == b"Action not implemented",
        "page": lambda: status in PAGE_STATUSES and not text,
        "failure": lambda: status in FAILURE_STATUSES and not text,
        "reply": lambda: True,
        "start": lambda: ((text == START_CHECK_TEXT and status in START_CHECK_STATUSES)
                          or (text == b"Print in progress" and status == 21)
                          or (not text and status in START_DOC_STATUSES)),
    }[check]
    return None if wanted() else "%s answer: status %d, text %r" % (check, status, text)


# --- records -----------------------------------------------------------------

def name_field(raw):
    return (raw + b"\0" * 128)[:128]


def record(job_id, output, printer=PRINTER, pages=1, scale=0, fields=0, values=None,
           data_type=1, quality=0):
    values = values or {}
    numbers = [fields, values.get("collate", 0), values.get("copies", 1),
               values.get("duplex", 1), scale, values.get("source", 0),
               values.get("paper", 0)]
    return (u32(job_id) + name_field(printer) + name_field(output)
            + struct.pack(">IIIIIII", *[n & 0xFFFFFFFF for n in numbers])
            + struct.pack(">i", quality)
            + struct.pack(">IIII", values.get("y_resolution", 0) & 0xFFFFFFFF,
                          pages & 0xFFFFFFFF, values.get("color", 0) & 0xFFFFFFFF,
                          data_type & 0xFFFFFFFF))


def output_name(session, rng, name="out"):
    return ("%s\\%s-%s-%d.ps" % (session.out_folder, name, session.index,
                                 rng.randrange(1 << 30))).encode()


def safe_bytes(rng, count):
    """Bytes that stay inside our folder: no NUL, separator, dot or colon."""
    allowed = bytes(b for b in range(1, 256) if b not in b"\\/.:")
    return bytes(rng.choice(allowed) for _ in range(count))


def hostile_printer(rng):
    choice = rng.random()
    if choice < 0.6:
        return PRINTER
    if choice < 0.7:
        return rng.randbytes(rng.randrange(1, 127)).replace(b"\0", b"x")
    if choice < 0.8:
        return bytes(rng.randrange(1, 256) for _ in range(128))
    if choice < 0.85:
        return b""
    return PRINTER + b"\0" + rng.randbytes(20)


def hostile_output(session, rng):
    folder = session.out_folder.encode()
    choice = rng.random()
    if choice < 0.5:
        return output_name(session, rng)
    if choice < 0.6:
        return folder + b"\\missing-%d\\out.ps" % rng.randrange(1 << 20)
    if choice < 0.7:
        return (folder + b"\\" + safe_bytes(rng, 128))[:128]
    if choice < 0.75:
        return b""
    if choice < 0.9:
        return folder + b"\\" + safe_bytes(rng, rng.randrange(1, 100))
    if choice < 0.95:
        return folder + b"/slash-%d.ps" % rng.randrange(1 << 20)
    return b"\\" + folder + b"\\rooted-%d.ps" % rng.randrange(1 << 20)


def hostile_record(session, rng):
    def word(sane):
        return rng.choice((sane, sane, rng.getrandbits(32), rng.randrange(1000)) + EDGE_WORDS)

    values = {"collate": word(1), "copies": word(1), "duplex": word(1), "source": word(7),
              "paper": rng.choice((0, (595 << 16) | 842, (612 << 16) | 792, (1 << 16) | 1,
                                   rng.getrandbits(32), 0xFFFFFFFF)),
              "y_resolution": word(300), "color": word(2)}
    body = record(rng.getrandbits(32), hostile_output(session, rng), hostile_printer(rng),
                  pages=rng.choice((0, 1, 2, 3, 0xFFFFFFFF, rng.randrange(1, 10))),
                  scale=rng.choice((0,) * 8 + (1, rng.getrandbits(32))),
                  fields=rng.choice((0, 0xFF, rng.randrange(256), rng.getrandbits(32))),
                  values=values, data_type=rng.choice((1, 1, 1, 1, 1, 2, 0, 3, rng.getrandbits(32))),
                  quality=rng.choice((0, -1, -2, -3, -4, 72, 300, 0x7FFFFFFF, -0x80000000,
                                      rng.randrange(-10, 1200))))
    if rng.random() < 0.1:
        body += rng.randbytes(rng.randrange(1, 64))
    return body


# --- page files --------------------------------------------------------------

def bmp(rng, width, height, bits=24):
    colours = 1 << bits if bits <= 8 else 0
    table = rng.randbytes(4 * colours)
    stride = (width * bits + 31) // 32 * 4
    pixels = rng.randbytes(stride * abs(height))
    offset = 54 + len(table)
    return (b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 2835,
                          2835, colours, 0)
            + table + pixels)


# (offset, width) of the header fields a corruption may hit.
BMP_FIELDS = ((2, 4), (10, 4), (14, 4), (18, 4), (22, 4), (26, 2), (28, 2), (30, 4), (34, 4),
              (46, 4))


def corrupt_bmp(rng):
    data = bytearray(bmp(rng, rng.randrange(1, 80), rng.choice((1, -1)) * rng.randrange(1, 80),
                         rng.choice((1, 4, 8, 16, 24, 32))))
    for _ in range(rng.randrange(1, 4)):
        choice = rng.random()
        if choice < 0.6:
            offset, width = rng.choice(BMP_FIELDS)
            value = rng.choice(EDGE_WORDS + (rng.getrandbits(32), rng.randrange(-5, 300),
                                             len(data), len(data) + 1, 3, 12, 108, 124))
            mask = (1 << (8 * width)) - 1
            data[offset:offset + width] = (value & mask).to_bytes(width, "little")
        elif choice < 0.8:
            data = data[:rng.randrange(2, len(data))]
        elif choice < 0.9:
            data += rng.randbytes(rng.randrange(1, 200))
        else:
            for _ in range(rng.randrange(1, 8)):
                data[rng.randrange(2, min(len(data), 80))] = rng.randrange(256)
    return bytes(data)


def page_body(session, rng, kind=None):
    """The body of a page message: a hostile path, or a path to a hostile file."""
    kind = kind or rng.choice(("valid", "valid", "corrupt", "corrupt", "corrupt", "random",
                               "empty", "missing", "dir", "nonul", "junk", "long", "binary",
                               "relative", "nul"))
    path = os.path.join(session.pages_dir, "s%s-%d.bmp" % (session.index, rng.randrange(1 << 30)))
    contents = {
        "valid": lambda: bmp(rng, rng.randrange(1, 120), rng.choice((1, -1)) * rng.randrange(1, 120),
                             rng.choice((1, 4, 8, 16, 24, 32))),
        "corrupt": lambda: corrupt_bmp(rng),
        "random": lambda: rng.choice((b"", b"BM")) + rng.randbytes(rng.randrange(1, 4096)),
        "empty": lambda: b"",
    }
    if kind in contents:
        with open(path, "wb") as f:
            f.write(contents[kind]())
    raw = os.fsencode(path)
    return {
        "missing": raw + b"\0",
        "dir": os.fsencode(session.pages_dir) + b"\0",
        "nonul": raw,
        "junk": raw + b"\0" + rng.randbytes(rng.randrange(1, 64)),
        "long": b"/" + b"a" * rng.randrange(300, 5000) + b"\0",
        "binary": bytes(rng.randrange(1, 256) for _ in range(rng.randrange(1, 300))) + b"\0",
        "relative": b"relative/page.bmp\0",
        "nul": b"\0",
    }.get(kind, raw + b"\0")


# --- session building blocks ------------------------------------------------

def start_job(session, rng, pages, scale=0):
    """A real job on the rig's printer; its id, or None when it was refused.
    Wine numbers spool files per process, so a first document collides with
    any other program of the shared prefix that holds the same number open
    (1, with a sharing violation); the job is ended and started again."""
    job_id = rng.randrange(1, 1 << 31)
    body = record(job_id, output_name(session, rng, "job"), pages=pages, scale=scale)
    for attempt in range(3):
        answer = settle_answer(session, session.request(1, body))
        if answer is None or answer[:4] != u32(1):
            break
        session.campaign.busy += 1
        session.request(6, u32(job_id))
        session.settle()
    if answer is None or answer[:4] != u32(0):
        return None
    session.campaign.jobs += 1
    session.request(8, u32(job_id))
    session.settle()
    return job_id


def settle_answer(session, req_id):
    """Settles and returns the body of the answer to req_id (None if dropped)."""
    bodies = {}
    original = session.handle

    def keep(packet):
        if packet[1] == req_id and packet[0] < 0x2000:
            bodies[req_id] = packet[2]
        original(packet)

    session.handle = keep
    try:
        session.settle()
    finally:
        session.handle = original
    return bodies.get(req_id)


def random_message(session, rng):
    """A message of random action and body; never one of NEVER_SENT."""
    code = rng.choice((1, 1, 2, 2, 3, 6, 8, 8, 0x3002, 0x3001, 0x3003, 0, 9, 0x1001, 0x2001,
                       0xFFFF, rng.randrange(9, 0x10000)))
    while code in NEVER_SENT:
        code = rng.randrange(9, 0x10000)
    size = rng.choice((0, 1, 3, 4, 7, 8, 307, 308, 309, rng.randrange(0, 64),
                       rng.randrange(0, 4096)))
    if rng.random() < 0.01:
        size = rng.randrange(1 << 16, 1 << 20)
    if code in SESSION_ENDING:
        size = min(size, 7)
    if code == 1 and size >= 308 and rng.random() < 0.5:
        return code, hostile_record(session, rng)
    if code == 2 and rng.random() < 0.7:
        return code, page_body(session, rng)
    return code, rng.randbytes(size)


def end_session(session, rng):
    """How a session ends: a notice, the server leaving, or a broken packet."""
    how = rng.choice(("done", "cancel", "close", "reset", "halfclose", "badframe", "truncated"))
    if how in ("close", "reset"):
        session.settle()
        session.go_away(how)
    elif how == "halfclose":
        session.settle()
        session.go_away("halfclose")
        expect_failure(session, 6)
    elif how in ("done", "cancel"):
        text = rng.randbytes(rng.randrange(0, 40))
        length = rng.choice((len(text), 0, len(text) + 1, 0xFFFFFFFF))
        session.request(0x3001 if how == "done" else 0x3003,
                        struct.pack(">iI", rng.getrandbits(32) - (1 << 31), length) + text)
        session.read_to_end()
    elif how == "badframe":
        data, status = bad_frame(session, rng)
        session.send(data)
        expect_failure(session, status)
    else:
        session.send(frame(3, 1, u32(0))[:rng.randrange(1, 24)])
        session.settle()
        session.go_away(rng.choice(("close", "reset")))


def bad_frame(session, rng):
    """A packet the program must refuse, and the status it reports."""
    choice = rng.randrange(5)
    code = rng.getrandbits(16)
    if choice == 0:
        magic = rng.choice((0, 0x2211BBAA, 0xAABB1123, rng.getrandbits(32)))
        return frame(code, 1, b"", magic=magic if magic != MAGIC else 0), 2
    if choice == 1:
        return frame(code, 1, b"x", version=rng.choice((0, 1, 3, 0x200, 0xFFFF))), 4
    if choice == 2:
        trailer = rng.choice((0xCCDD3345, 0x4433DDCC, 0, rng.getrandbits(32)))
        return frame(3, 1, u32(0), trailer=trailer if trailer != TRAILER else 0), 2
    if choice == 3:
        length = rng.choice((0xFFFFFFFF, 0xFFFFFFFC, (16 << 20) + 1, 0x80000000))
        return frame(3, 1, b"", length=length)[:16], 11
    # A length shorter than the body: the trailer is read from inside it.
    return frame(3, 1, b"\x01\x02\x03\x04\x05\x06\x07\x08", length=4), 2


def expect_failure(session, status):
    """The program reports a reception failure with `status` and closes."""
    session.settle()
    notices = session.read_to_end()
    failures = [body for code, body in notices if code == 0x2004]
    statuses = [struct.unpack(">I", body[:4])[0] for body in failures if len(body) >= 4]
    if status not in statuses:
        session.campaign.find(session, "protocol", "expected a 0x2004 with status %d, got %s"
                              % (status, statuses))


# --- scenarios -----------------------------------------------------------

def scenario_frame(session, rng):
    """Framing attacks: split, oversized, truncated and broken packets."""
    for _ in range(rng.randrange(0, 4)):
        code, body = random_message(session, rng)
        if code not in SESSION_ENDING:
            session.request(code, body)
    choice = rng.randrange(6)
    if choice == 0:
        # A good packet in small pieces.
        data = frame(3, 99, u32(7))
        session.campaign.requests += 1
        session.pending.append((0x1003, 99, "ok", "answer to a split packet"))
        while data:
            cut = rng.randrange(1, 6)
            session.send(data[:cut])
            data = data[cut:]
            time.sleep(0.002)
        end_session(session, rng)
    elif choice == 1:
        # A large valid body of an unknown action.
        size = rng.randrange(1 << 20, 8 << 20)
        session.request(rng.randrange(9, 0x1000), rng.randbytes(size))
        end_session(session, rng)
    elif choice == 2:
        # A length promising more than comes, then the server leaves.
        length = rng.choice((rng.randrange(1, 64), rng.randrange(1 << 20, 16 << 20)))
        session.send(frame(rng.getrandbits(16), 5, b"", length=length)[:16]
                     + rng.randbytes(rng.randrange(0, min(length, 4096))))
        session.settle()
        session.go_away(rng.choice(("close", "reset", "halfclose")))
    elif choice == 3:
        # Garbage: random bytes, sometimes behind the right magic.
        data = rng.choice((b"", struct.pack(">I", MAGIC))) + rng.randbytes(rng.randrange(1, 200))
        session.send(data)
        if len(data) >= 16 and data[:4] != struct.pack(">I", MAGIC):
            expect_failure(session, 2)
        else:
            session.settle()
            session.go_away(rng.choice(("close", "reset")))
    else:
        data, status = bad_frame(session, rng)
        session.send(data)
        expect_failure(session, status)


def scenario_random(session, rng):
    """Random actions and bodies, one by one or in bursts."""
    for _ in range(rng.randrange(1, 40)):
        code, body = random_message(session, rng)
        session.request(code, body)
        if rng.random() < 0.7:
            session.settle()
    end_session(session, rng)


def scenario_record(session, rng):
    """Start-print records with random fields and names; a page or an end now and then."""
    for _ in range(rng.randrange(1, 6)):
        req_id = session.request(1, hostile_record(session, rng))
        answer = settle_answer(session, req_id)
        if answer and answer[:4] == u32(0) and rng.random() < 0.5:
            session.request(2, page_body(session, rng, rng.choice(("valid", "corrupt"))))
        if rng.random() < 0.3:
            session.request(6, u32(rng.getrandbits(32)))
        session.settle()
    end_session(session, rng)


def scenario_pages(session, rng):
    """A real job whose page messages name hostile files and paths."""
    pages = rng.randrange(1, 7)
    start_job(session, rng, pages, scale=1 if rng.random() < 0.05 else 0)
    for _ in range(pages + rng.randrange(0, 2)):
        session.request(2, page_body(session, rng))
        if rng.random() < 0.8:
            session.settle()
    end_session(session, rng)


def scenario_fault(session, rng):
    """A fault in the middle of a real job."""
    pages = rng.randrange(2, 6)
    start_job(session, rng, pages)
    slowest = 0.0
    for _ in range(rng.randrange(0, pages)):
        started = time.monotonic()
        session.request(2, page_body(session, rng, "valid"))
        session.settle()
        slowest = max(slowest, time.monotonic() - started)
    how = rng.choice(("close", "reset", "halfclose", "stall", "inflight"))
    if how == "inflight":
        # Gone before the page's answer: the page may still be printed first.
        session.request(2, page_body(session, rng, "valid"))
        session.pending = []
        session.go_away(rng.choice(("close", "reset")), allowance=max(1.0, 2 * slowest))
    elif how == "stall":
        flood(session, rng.uniform(0.2, 3.0))
        session.go_away(rng.choice(("close", "reset")))
    elif how == "halfclose":
        session.settle()
        session.go_away("halfclose")
        expect_failure(session, 6)
    else:
        session.settle()
        session.go_away(how)


def flood(session, seconds):
    """Sends requests without reading a byte, for `seconds` or until blocked."""
    session.settle()
    burst = b"".join(frame(3, n, u32(n)) for n in range(1000))
    session.conn.setblocking(False)
    deadline = time.monotonic() + seconds
    sent = 0
    stuck_since = None
    while time.monotonic() < deadline:
        try:
            sent += session.conn.send(burst[sent % len(burst):])
            stuck_since = None
        except BlockingIOError:
            stuck_since = stuck_since or time.monotonic()
            if time.monotonic() - stuck_since > 1.0:
                break
            select.select([], [session.conn], [], 0.1)
        except OSError:
            break
    session.conn.setblocking(True)
    session.campaign.requests += sent // 24
    return sent, stuck_since


def scenario_silence(session, rng):
    """Half a header, then nothing: the program's own time-out ends it."""
    session.send(frame(3, 1, u32(0))[:rng.randrange(1, 16)])
    session.pending = []
    session.notices = []
    started = time.monotonic()
    notices = session.read_to_end(timeout=30 + 15)
    took = time.monotonic() - started
    if not any(code == 0x2004 and body[:4] == u32(19) for code, body in notices):
        session.campaign.find(session, "protocol", "no 0x2004 with status 19 after silence")
    if took > 30 + 5:
        session.campaign.find(session, "hang", "silence ended the session after %.0f s" % took)


def scenario_stall_hold(session, rng):
    """A job, then a server that stops reading and stays: the program must
    bound what it holds and end the session itself once it can send nothing."""
    start_job(session, rng, 2)
    before = session.stats()
    sent, _ = flood(session, 60)
    burst = b"".join(frame(3, n, u32(n)) for n in range(1000))
    session.conn.setblocking(False)
    last_taken = time.monotonic()
    peak = before[0] if before else 0
    while session.process.poll() is None and time.monotonic() - last_taken < 30 + 15:
        taken = 0
        try:
            while True:
                # Whole packets only: a send may take part of the burst.
                taken += session.conn.send(burst[(sent + taken) % len(burst):])
        except BlockingIOError:
            pass
        except OSError:
            break
        if taken:
            sent, last_taken = sent + taken, time.monotonic()
        stats = session.stats()
        peak = max(peak, stats[0] if stats else 0)
        time.sleep(0.25)
    # A broken connection means that the program is ending the session.
    while session.process.poll() is None and time.monotonic() - last_taken < 30 + 15:
        time.sleep(0.05)
    took = time.monotonic() - last_taken
    session.gone_at = time.monotonic()
    if session.process.poll() is None:
        session.campaign.find(session, "hang", "still running %.0f s after it stopped taking "
                              "requests" % took)
    elif took > 30 + 5:
        session.campaign.find(session, "slow exit", "ended %.1f s after it stopped taking "
                              "requests (limit 35 s)" % took)
    rise = peak - before[0] if before else 0
    if rise > 32 * 1024:
        session.campaign.find(session, "memory", "RSS rose %d kB while the server did not read"
                              % rise)
    session.campaign.stall_figures = (sent, took, rise)


SCENARIOS = {"frame": scenario_frame, "random": scenario_random, "record": scenario_record,
             "pages": scenario_pages, "fault": scenario_fault, "silence": scenario_silence,
             "stall-hold": scenario_stall_hold}
WEIGHTS = (("frame", 20), ("random", 30), ("record", 15), ("pages", 20), ("fault", 15))
SLOW_KINDS = ("stall-hold", "silence")


def pick_kind(rng):
    return rng.choices([k for k, _ in WEIGHTS], [w for _, w in WEIGHTS])[0]


# --- the soak ------------------------------------------------------------

def soak_pages(session, rng):
    if not hasattr(session, "soak_files"):
        session.soak_files = []
        for name, width, height, bits in (("a", 200, 150, 24), ("b", 64, 64, 8)):
            path = os.path.join(session.pages_dir, "soak-%s.bmp" % name)
            with open(path, "wb") as f:
                f.write(bmp(rng, width, height, bits))
            session.soak_files.append(os.fsencode(path) + b"\0")
    return session.soak_files


def expect_status(session, code, body, status, what):
    req_id = session.request(code, body)
    answer = settle_answer(session, req_id)
    got = struct.unpack(">I", answer[:4])[0] if answer else None
    if got != status:
        raise SoakFailure("%s answered %r, not %d" % (what, got, status))


def start_soak_job(session, body):
    """Starts a soak job. A printer that another program of the shared prefix
    is printing on refuses the document (1); the job is ended and tried again."""
    for attempt in range(10):
        req_id = session.request(1, body)
        answer = settle_answer(session, req_id)
        if answer and answer[:4] == u32(0):
            return
        if not answer or answer[:4] != u32(1):
            break
        session.campaign.busy += 1
        expect_status(session, 6, u32(0), 0, "end of a refused job")
        time.sleep(0.5)
    raise SoakFailure("start answered %r" % (answer[:8] if answer else None))


def soak_job(session, rng, job):
    files = soak_pages(session, rng)
    if any(code == 0x2004 for code, _ in session.notices):
        raise SoakFailure("reception failure before job %d" % job)
    stray = [body for code, body in session.notices if code == 0x2001]
    session.notices = []
    if stray:
        raise SoakFailure("job result %r without a job before job %d" % (stray[0][:60], job))
    if job % 13 == 0:
        missing = ("%s\\missing\\out.ps" % session.out_folder).encode()
        expect_status(session, 1, record(job, missing), 9, "start into a missing folder")
        return
    output = ("%s\\soak-%d.ps" % (session.out_folder, job % 2)).encode()
    pages = 2 if job % 7 == 0 else 1 + job % 2
    start_soak_job(session, record(job, output, pages=pages, scale=job % 3 == 0))
    expect_status(session, 8, u32(job), 0, "page size")  # little-endian status 0 reads as 0
    if job % 7 == 0:
        expect_status(session, 2, files[0], 0, "page 1")
        expect_status(session, 6, u32(job), 0, "end of job")
        expect_status(session, 2, files[1], 1, "page after the end")
        return
    for page in range(pages):
        expect_status(session, 2, files[page % 2], 0, "page %d" % (page + 1))
    body = session.wait_notice(0x2001)
    status, length = struct.unpack(">II", body[:8])
    path = body[8:8 + length]
    if status != 0 or not path or not os.path.getsize(os.fsdecode(path)):
        raise SoakFailure("job %d result: status %d, path %r" % (job, status, path))
    os.remove(os.fsdecode(path))
