"""The wire protocol byte by byte (reception failures: the session tests)."""
import struct
import time
import unittest

import peer

OK_REPLY = peer.reply_body(0, b"OK")
NOT_IMPLEMENTED = peer.reply_body(21, b"Action not implemented")


class Replies(unittest.TestCase):
    def test_answers_byte_exact(self):
        with peer.Session() as session:
            # Short bodies are dropped unanswered; so is a heartbeat notice.
            for code in (3, 6):
                session.send_packet(code, 1, b"\x00\x00\x01")
            session.send_packet(1, 2, b"\x00" * 307)
            session.send_packet(0x3001, 3, b"\x00" * 7)
            session.send_packet(0x3002, 4)
            # One byte at a time, still one packet.
            data = peer.frame(3, 77, peer.u32(12345))
            for i in range(len(data)):
                session.send(data[i:i + 1])
                time.sleep(0.002)
            self.assertEqual(session.expect(0x1003).raw, peer.frame(0x1003, 77, OK_REPLY))
            for code, answer in ((0, 0x1000), (9, 0x1009), (0xF005, 0x0005), (0x1001, 0x2001)):
                packet = session.request(code, 1000 + code, b"xyz", answer=answer)
                self.assertEqual(packet.raw, peer.frame(answer, 1000 + code, NOT_IMPLEMENTED))
            for req_id in (10, 11):
                packet = session.request(6, req_id, peer.u32(99))
                self.assertEqual(packet.raw, peer.frame(0x1006, req_id, OK_REPLY), "end job, twice")
            # Page size: status little-endian; 25 for another job, 1 for a short body.
            self.assertEqual(session.request(8, 20, peer.u32(0)).body, bytes(8))
            self.assertEqual(session.request(8, 21, peer.u32(7)).body, b"\x19" + bytes(7))
            self.assertEqual(session.request(8, 22, b"\x00\x07").body, b"\x01" + bytes(7))
            # A page outside a job finds no document.
            self.assertEqual(session.request(2, 23, b"/tmp/x.bmp\0").reply(), (1, b""))


class Notices(unittest.TestCase):
    def test_notices_end_the_session_with_their_text(self):
        for code, body, line in (
                (0x3001, peer.reply_body(5), "print done: 5, msg: (null)"),
                (0x3001, struct.pack(">iI", -3, 4) + b"ab\x00d", 'print done: -3, msg: "ab"'),
                (0x3003, struct.pack(">II", 7, 100) + b"short",
                 "cancel print done: 7, msg: (null)")):
            with self.subTest(line=line), peer.Session(env=peer.program_env(peer.TRACE)) as session:
                session.request(3, 1, peer.u32(0))
                session.send_packet(code, 0, body)
                self.assertTrue(session.closed_by_program(timeout=5))
                self.assertEqual(session.wait_exit(timeout=3), 0)
                err = session.stderr()
                self.assertIn(line, err)
                self.assertIn("Client exited", err)


if __name__ == "__main__":
    peer.main()
