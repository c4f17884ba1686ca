"""What the hostile server sends: hostile records, packets and page files, the
answers the program owes for them, and one scenario per session. Every choice
comes from the session's seeded generator, so a session replays byte for byte."""
import os
import select
import struct
import time

from peer import PRINTER, p

EDGE_WORDS = (0, 1, 2, 3, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF, 0x10000)
# Shorter bodies are dropped unanswered.
MINIMUM_BODY = {1: p.RECORD.size, 2: 1, 3: 4, 4: 1, 5: 1, 6: 4, 8: 1, 0x3001: 8, 0x3003: 8}
# 4 and 5 open a dialog that waits for a person; 7 shuts the shared desktop down.
NEVER_SENT = (p.DOCUMENT_PROPERTIES, p.DEVICE_PROPERTIES, p.SHUTDOWN)
SESSION_ENDING = (p.PRINT_DONE, p.CANCEL_PRINT_DONE)
CHECK_FAILED = b"check request header failed."
# The statuses that each kind of answer or notice may carry with each text.
ALLOWED = {"ok": {b"OK": (0,)}, "notimpl": {b"Action not implemented": (21,)},
           "page": {b"": (0, 1, 6, 11, 15, 20, 24)}, "failure": {b"": (2, 4, 6, 11, 19)},
           "start": {b"": (0, 1, 8, 11, 12), CHECK_FAILED: (1, 5, 8, 9, 14, 23),
                     b"Print in progress": (21,)}}
ANSWER_CHECKS = {1: "start", 2: "page", 3: "ok", 6: "ok", 8: "size"}
NAME_BYTES = bytes(b for b in range(1, 256) if b not in b"\\/.:")


class SoakFailure(Exception):
    pass


def expected_answer(code, body):
    """(answer code, check) that the program owes for a message, or None."""
    if len(body) < MINIMUM_BODY.get(code, 0) or code in SESSION_ENDING + (p.SERVER_HEARTBEAT,):
        return None
    return (p.ANSWER + code) & 0xFFFF, ANSWER_CHECKS.get(code, "notimpl")


def check_body(check, body):
    """None when the body is what `check` allows, else what is wrong."""
    if check == "word":
        return None if len(body) == 4 else "body of %d bytes, not 4" % len(body)
    if check == "size":
        size = p.parse_page_size(body) if len(body) == 8 else None
        return None if size and size[0] in (0, 1, 25) else "page-size answer %s" % body.hex()
    status, text = p.parse_text_body(body) or (None, b"")
    if status is None or len(body) != 8 + len(text):
        return "reply body %s" % body[:40].hex()
    allowed = ALLOWED.get(check)  # a job result may carry any status and path
    if allowed is not None and status not in allowed.get(text, ()):
        return "%s answer: status %d, text %r" % (check, status, text)
    return None


# --- records and page files ------------------------------------------------

def output_name(session, rng, name="out"):
    return ("%s\\%s-%s-%d.ps" % (session.out_folder, name, session.index,
                                 rng.randrange(1 << 30))).encode()


def safe_bytes(rng, count):
    """Bytes that stay inside our folder: no NUL, separator, dot or colon."""
    return bytes(rng.choice(NAME_BYTES) for _ in range(count))


def hostile_names(session, rng):
    folder = session.out_folder.encode()
    printer = rng.choice((PRINTER.encode(),) * 6 + (
        rng.randbytes(rng.randrange(1, 127)).replace(b"\0", b"x"), b"",
        bytes(rng.randrange(1, 256) for _ in range(128)),
        PRINTER.encode() + b"\0" + rng.randbytes(20)))
    output = rng.choice((output_name(session, rng),) * 5 + (
        folder + b"\\missing-%d\\out.ps" % rng.randrange(1 << 20), b"",
        folder + b"\\" + safe_bytes(rng, rng.choice((128, rng.randrange(1, 100)))),
        folder + b"/slash-%d.ps" % rng.randrange(1 << 20),
        b"\\" + folder + b"\\rooted-%d.ps" % rng.randrange(1 << 20)))
    return printer, output


def hostile_record(session, rng):
    def word(sane):
        return rng.choice((sane, sane, rng.getrandbits(32), rng.randrange(1000)) + EDGE_WORDS)

    body = p.raw_record(
        rng.getrandbits(32), *hostile_names(session, rng),
        page_count=rng.choice((0, 1, 2, 3, 0xFFFFFFFF, rng.randrange(1, 10))),
        fields=rng.choice((0, 0xFF, rng.randrange(256), rng.getrandbits(32))),
        collate=word(1), copies=word(1), duplex=word(1), paper_source=word(7),
        scale=rng.choice((0,) * 8 + (1, rng.getrandbits(32))), y_resolution=word(300),
        paper=rng.choice((0, 595 << 16 | 842, 1 << 16 | 1, rng.getrandbits(32), 0xFFFFFFFF)),
        quality=rng.choice((0, -1, -4, 300, 0x7FFFFFFF, -0x80000000, rng.randrange(-10, 1200))),
        color=word(2), data_type=rng.choice((1, 1, 1, 1, 1, 2, 0, 3, rng.getrandbits(32))))
    return body + (rng.randbytes(rng.randrange(1, 64)) if rng.random() < 0.1 else b"")


def random_bmp(rng):
    width, height = rng.randrange(1, 120), rng.randrange(1, 120)
    bits = rng.choice((1, 4, 8, 16, 24, 32))
    palette = [tuple(rng.randbytes(3)) for _ in range(1 << bits)] if bits <= 8 else []
    rows = [rng.randbytes((width * bits + 7) // 8) for _ in range(height)]
    return p.bmp_file(width, height, bits, rows, palette, top_down=rng.random() < 0.5)


# (offset, width) of the header fields that a corruption may hit.
BMP_FIELDS = ((2, 4), (10, 4), (14, 4), (18, 4), (22, 4), (26, 2), (28, 2), (30, 4), (34, 4),
              (46, 4))


def corrupt_bmp(rng):
    data = bytearray(random_bmp(rng))
    for _ in range(rng.randrange(1, 4)):
        choice = rng.random()
        if choice < 0.6:
            offset, width = rng.choice(BMP_FIELDS)
            value = rng.choice(EDGE_WORDS + (rng.getrandbits(32), rng.randrange(-5, 300),
                                             len(data), len(data) + 1, 3, 12, 108, 124))
            data[offset:offset + width] = (value % (1 << 8 * width)).to_bytes(width, "little")
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
    kind = kind or rng.choice(("valid", "corrupt", "corrupt", "random", "empty", "missing",
                               "dir", "nonul", "junk", "long", "binary", "relative", "nul"))
    path = os.path.join(session.campaign.pages_dir, "s%s-%d.bmp" % (session.index,
                                                                    rng.randrange(1 << 30)))
    contents = {"valid": random_bmp, "corrupt": corrupt_bmp, "empty": lambda rng: b"",
                "random": lambda rng: rng.choice((b"", b"BM")) + rng.randbytes(
                    rng.randrange(1, 4096))}
    if kind in contents:
        with open(path, "wb") as f:
            f.write(contents[kind](rng))
    raw = os.fsencode(path)
    return {"missing": raw + b"\0", "nonul": raw, "relative": b"relative/page.bmp\0",
            "dir": os.fsencode(session.campaign.pages_dir) + b"\0", "nul": b"\0",
            "junk": raw + b"\0" + rng.randbytes(rng.randrange(1, 64)),
            "long": b"/" + b"a" * rng.randrange(300, 5000) + b"\0",
            "binary": bytes(rng.randrange(1, 256) for _ in range(rng.randrange(1, 300))) + b"\0",
            }.get(kind, raw + b"\0")


# --- building blocks ---------------------------------------------------------

def start_job(session, rng, pages, scale=0, tries=3, output=None):
    """A real job on the rig's printer; its id, or None when it was refused.
    Wine numbers spool files per process, so a first document collides with
    any other program of the shared prefix that holds the same number open
    (1, a sharing violation): the job is ended and started again."""
    job_id = rng.randrange(1, 1 << 31)
    body = p.raw_record(job_id, PRINTER.encode(), output or output_name(session, rng, "job"),
                        page_count=pages, scale=scale)
    for _ in range(tries):
        answer = session.answer(session.request(p.START_PRINT, body))
        if answer is None or answer[:4] != p.u32(1):
            break
        session.campaign.busy += 1
        session.answer(session.request(p.END_JOB, p.u32(job_id)))
        time.sleep(0.5 if tries > 3 else 0)
    if answer is None or answer[:4] != p.u32(0):
        return None
    session.campaign.jobs += 1
    session.job_id = job_id
    size = session.answer(session.request(p.GET_PRINT_PAGE, p.u32(job_id)))
    if size is None or size[:4] != bytes(4):
        session.find("protocol", "page size of a started job: %r" % size)
    return job_id


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


def bad_frame(rng):
    """A packet the program must refuse, and the status it reports."""
    choice, code = rng.randrange(5), rng.getrandbits(16)
    if choice == 0:
        return p.frame(code, 1, magic=rng.choice((0, 0x2211BBAA, 0xAABB1123))), 2
    if choice == 1:
        return p.frame(code, 1, b"x", version=rng.choice((0, 1, 3, 0x200, 0xFFFF))), 4
    if choice == 2:
        return p.frame(3, 1, p.u32(0), trailer=rng.choice((0xCCDD3345, 0x4433DDCC, 0))), 2
    if choice == 3:
        length = rng.choice((0xFFFFFFFF, 0xFFFFFFFC, (16 << 20) + 1, 0x80000000))
        return p.frame(3, 1, length=length)[:16], 11
    # A length shorter than the body: the trailer is read from inside it.
    return p.frame(3, 1, bytes(range(1, 9)), length=4), 2


def expect_failure(session, status):
    """The program reports a reception failure with `status` and closes."""
    session.settle()
    statuses = [p.parse_text_body(body)[0] for code, body in session.read_to_end()
                if code == p.RECEIVE_FAILED]
    if status not in statuses:
        session.find("protocol", "expected a 0x2004 with status %d, got %s" % (status, statuses))


def end_session(session, rng):
    """How a session ends: a notice, the server leaving, or a broken packet."""
    how = rng.choice(("done", "cancel", "close", "reset", "halfclose", "badframe", "truncated"))
    if how in ("done", "cancel"):
        text = rng.randbytes(rng.randrange(0, 40))
        length = rng.choice((len(text), 0, len(text) + 1, 0xFFFFFFFF))
        session.request(p.PRINT_DONE if how == "done" else p.CANCEL_PRINT_DONE,
                        struct.pack(">iI", rng.getrandbits(32) - (1 << 31), length) + text)
        session.read_to_end()
    elif how == "badframe":
        data, status = bad_frame(rng)
        session.send(data)
        expect_failure(session, status)
    else:
        if how == "truncated":
            session.send(p.frame(3, 1, p.u32(0))[:rng.randrange(1, 24)])
            how = rng.choice(("close", "reset"))
        session.settle()
        session.go_away(how)
        if how == "halfclose":
            expect_failure(session, 6)


def flood(session, seconds, sent=0):
    """Sends requests without reading a byte, for `seconds` or until blocked
    for a second; the bytes sent so far."""
    burst = b"".join(p.frame(3, n, p.u32(n)) for n in range(1000))
    session.conn.setblocking(False)
    deadline, stuck_since = time.monotonic() + seconds, None
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
    return sent


# --- scenarios, one a session --------------------------------------------------

def scenario_frame(session, rng):
    """Framing attacks: split, oversized, truncated and broken packets."""
    for _ in range(rng.randrange(0, 4)):
        code, body = random_message(session, rng)
        if code not in SESSION_ENDING:
            session.request(code, body)
    choice = rng.randrange(5)
    if choice == 0:  # a good packet in small pieces
        data = p.frame(3, 99, p.u32(7))
        session.pending.append((0x1003, 99, "ok", "answer to a split packet"))
        while data:
            cut = rng.randrange(1, 6)
            session.send(data[:cut])
            data = data[cut:]
            time.sleep(0.002)
        end_session(session, rng)
    elif choice == 1:  # a large valid body of an unknown action
        session.request(rng.randrange(9, 0x1000), rng.randbytes(rng.randrange(1 << 20, 8 << 20)))
        end_session(session, rng)
    elif choice == 2:  # a length promising more than comes, then the server leaves
        length = rng.choice((rng.randrange(1, 64), rng.randrange(1 << 20, 16 << 20)))
        session.send(p.frame(rng.getrandbits(16), 5, length=length)[:16]
                     + rng.randbytes(rng.randrange(0, min(length, 4096))))
        session.settle()
        session.go_away(rng.choice(("close", "reset", "halfclose")))
    else:
        data, status = bad_frame(rng)
        session.send(data)
        expect_failure(session, status)


def scenario_random(session, rng):
    """Random actions and bodies, one by one or in bursts."""
    for _ in range(rng.randrange(1, 40)):
        session.request(*random_message(session, rng))
        if rng.random() < 0.7:
            session.settle()
    end_session(session, rng)


def scenario_record(session, rng):
    """Start-print records with random fields and names; a page or an end now and then."""
    for _ in range(rng.randrange(1, 6)):
        answer = session.answer(session.request(p.START_PRINT, hostile_record(session, rng)))
        if answer and answer[:4] == p.u32(0) and rng.random() < 0.5:
            session.request(p.PAGE_FILENAME, page_body(session, rng, rng.choice(("valid",
                                                                                 "corrupt"))))
        if rng.random() < 0.3:
            session.request(p.END_JOB, p.u32(rng.getrandbits(32)))
        session.settle()
    end_session(session, rng)


def scenario_pages(session, rng):
    """A real job whose page messages name hostile files and paths."""
    pages = rng.randrange(1, 7)
    start_job(session, rng, pages, scale=int(rng.random() < 0.05))
    for _ in range(pages + rng.randrange(0, 2)):
        session.request(p.PAGE_FILENAME, page_body(session, rng))
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
        session.answer(session.request(p.PAGE_FILENAME, page_body(session, rng, "valid")))
        slowest = max(slowest, time.monotonic() - started)
    how = rng.choice(("close", "reset", "halfclose", "stall", "inflight"))
    if how == "inflight":  # gone before the page's answer: the page may still print first
        session.request(p.PAGE_FILENAME, page_body(session, rng, "valid"))
        session.pending = []
        session.go_away(rng.choice(("close", "reset")), allowance=max(1.0, 2 * slowest))
        return
    session.settle()
    if how == "stall":
        flood(session, rng.uniform(0.2, 3.0))
        how = rng.choice(("close", "reset"))
    session.go_away(how)
    if how == "halfclose":
        expect_failure(session, 6)


def scenario_silence(session, rng):
    """Half a header, then nothing: the program's own time-out ends it."""
    session.send(p.frame(3, 1, p.u32(0))[:rng.randrange(1, 16)])
    started = time.monotonic()
    notices = session.read_to_end(timeout=30 + 15)
    if (p.RECEIVE_FAILED, p.text_body(19)) not in notices:
        session.find("protocol", "no 0x2004 with status 19 after silence")
    if time.monotonic() - started > 30 + 5:
        session.find("hang", "silence ended the session after %.0f s"
                     % (time.monotonic() - started))


def scenario_stall_hold(session, rng):
    """A job, then a server that stops reading and stays: the program must
    bound what it holds and end the session itself once it can send nothing."""
    start_job(session, rng, 2)
    before = session.stats()
    sent, last_taken, peak = flood(session, 60), time.monotonic(), before[0] if before else 0
    while session.process.poll() is None and time.monotonic() - last_taken < 30 + 15:
        now_sent = flood(session, 0.25, sent)
        sent, last_taken = now_sent, time.monotonic() if now_sent > sent else last_taken
        peak = max(peak, (session.stats() or (0,))[0])
    took = time.monotonic() - last_taken
    session.gone_at = time.monotonic()
    if session.process.poll() is None:
        session.find("hang", "still running %.0f s after it stopped taking requests" % took)
    elif took > 30 + 5:
        session.find("slow exit", "ended %.1f s after it stopped taking requests" % took)
    if before and peak - before[0] > 32 * 1024:
        session.find("memory", "RSS rose %d kB while the server did not read"
                     % (peak - before[0]))


SCENARIOS = {"frame": scenario_frame, "random": scenario_random, "record": scenario_record,
             "pages": scenario_pages, "fault": scenario_fault, "silence": scenario_silence,
             "stall-hold": scenario_stall_hold}
WEIGHTS = {"frame": 20, "random": 30, "record": 15, "pages": 20, "fault": 15}
SLOW_KINDS = ("stall-hold", "silence")


# --- the soak ------------------------------------------------------------------

def expect_status(session, code, body, status, what):
    answer = session.answer(session.request(code, body))
    if answer is None or answer[:4] != p.u32(status):
        raise SoakFailure("%s answered %r, not %d" % (what, answer, status))


def soak_job(session, rng, job, pages_dir):
    """One job of the soak, every 13th refused and every 7th ended early."""
    files = [os.fsencode(os.path.join(pages_dir, "soak-%s.bmp" % name)) + b"\0"
             for name in "ab"]
    if job == 1:
        for path, bits in zip(files, (24, 8)):
            with open(path[:-1], "wb") as f:
                f.write(p.bmp_file(64, 64, bits, [rng.randbytes(8 * bits)] * 64,
                                   [tuple(rng.randbytes(3)) for _ in range(256 * (bits == 8))]))
    stray = [(code, body) for code, body in session.notices if code != p.PROGRAM_HEARTBEAT]
    session.notices = []
    if stray:
        raise SoakFailure("notice %#x %r before job %d" % (stray[0][0], stray[0][1][:60], job))
    if job % 13 == 0:
        missing = ("%s\\missing\\out.ps" % session.out_folder).encode()
        expect_status(session, 1, p.raw_record(job, PRINTER.encode(), missing), 9,
                      "start into a missing folder")
        return
    output = ("%s\\soak-%d.ps" % (session.out_folder, job % 2)).encode()
    pages = 2 if job % 7 == 0 else 1 + job % 2
    if start_job(session, rng, pages, scale=int(job % 3 == 0), tries=10, output=output) is None:
        raise SoakFailure("job %d did not start" % job)
    if job % 7 == 0:
        expect_status(session, 2, files[0], 0, "page 1")
        expect_status(session, 6, p.u32(session.job_id), 0, "end of job")
        expect_status(session, 2, files[1], 1, "page after the end")
        return
    for page in range(pages):
        expect_status(session, 2, files[page % 2], 0, "page %d" % (page + 1))
    status, path = p.parse_text_body(session.wait_notice(p.JOB_RESULT))
    if status != 0 or not path or not os.path.getsize(os.fsdecode(path)):
        raise SoakFailure("job %d result: status %d, path %r" % (job, status, path))
    os.remove(os.fsdecode(path))
