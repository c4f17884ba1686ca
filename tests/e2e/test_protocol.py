"""The wire protocol, byte by byte, against the running program."""
import struct
import time
import unittest

import peer

OK_REPLY = peer.reply_body(0, b"OK")
NOT_IMPLEMENTED = peer.reply_body(21, b"Action not implemented")


class Replies(unittest.TestCase):
    def setUp(self):
        self.session = peer.Session()

    def tearDown(self):
        self.session.close()

    def test_value_notice_is_answered_ok_byte_exact(self):
        packet = self.session.request(3, 77, peer.u32(12345))
        self.assertEqual(packet.raw, peer.frame(0x1003, 77, OK_REPLY))
        self.assertEqual(len(packet.raw), 30)

    def test_short_bodies_are_dropped_without_answer(self):
        for code in (3, 6):
            self.session.send_packet(code, 1, b"\x00\x00\x01")
        self.session.send_packet(1, 2, b"\x00" * 307)
        self.session.send_packet(0x3001, 3, b"\x00" * 7)
        packet = self.session.request(3, 4, peer.u32(0))
        self.assertEqual(packet.req_id, 4)

    def test_codes_without_handler(self):
        for code, answer in ((0, 0x1000), (9, 0x1009), (0xF005, 0x0005), (0x1001, 0x2001)):
            with self.subTest(code=code):
                packet = self.session.request(code, 1000 + code, b"xyz", answer=answer)
                self.assertEqual(packet.raw, peer.frame(answer, 1000 + code, NOT_IMPLEMENTED))
                self.assertEqual(len(packet.raw), 50)

    def test_packet_in_one_byte_pieces_and_empty_body(self):
        data = peer.frame(3, 5, peer.u32(1))
        for i in range(len(data)):
            self.session.send(data[i:i + 1])
            time.sleep(0.002)
        self.assertEqual(self.session.expect(0x1003).req_id, 5)
        packet = self.session.request(0, 6, b"", answer=0x1000)
        self.assertEqual(packet.reply(), (21, b"Action not implemented"))

    def test_end_job_twice_and_heartbeat_notice(self):
        self.session.send_packet(0x3002, 0)
        for req_id in (10, 11):
            packet = self.session.request(6, req_id, peer.u32(99))
            self.assertEqual(packet.raw, peer.frame(0x1006, req_id, OK_REPLY))

    def test_page_size_query_status_and_byte_order(self):
        packet = self.session.request(8, 20, peer.u32(0))
        self.assertEqual(packet.body, b"\x00\x00\x00\x00" + b"\x00\x00\x00\x00")
        packet = self.session.request(8, 21, peer.u32(7))
        self.assertEqual(packet.body[:4], b"\x19\x00\x00\x00")  # 25, little-endian
        packet = self.session.request(8, 22, b"\x00\x07")
        self.assertEqual(packet.body, b"\x01\x00\x00\x00" + b"\x00\x00\x00\x00")


class ReceptionFailures(unittest.TestCase):
    """Every failure is reported with 0x2004, then the program leaves."""

    def assert_reported(self, data, status, repeat=1):
        for _ in range(repeat):
            with peer.Session() as session:
                session.send(data)
                packet = session.expect(0x2004)
                self.assertEqual(packet.raw, peer.frame(0x2004, 0, peer.reply_body(status)))
                self.assertTrue(session.closed_by_program())
                self.assertEqual(session.wait_exit(), 0)

    def test_bad_magic_version_and_trailer(self):
        self.assert_reported(peer.frame(3, 1, peer.u32(0), magic=0xAABB1123), 2)
        self.assert_reported(peer.frame(3, 1, peer.u32(0), version=1), 4)
        self.assert_reported(peer.frame(3, 1, peer.u32(0), trailer=0xCCDD3345), 2)

    def test_lengths_that_cannot_be_received(self):
        for length in (0xFFFFFFFF, 0xFFFFFFFC, 0x40000000):
            with self.subTest(length=length):
                header = struct.pack(">IHHII", peer.MAGIC, 2, 3, 1, length)
                self.assert_reported(header, 11)

    def test_last_packet_arrives_every_time(self):
        self.assert_reported(peer.frame(3, 1, b"", magic=0), 2, repeat=8)

    def test_closed_connection_ends_the_program(self):
        with peer.Session() as session:
            session.send(peer.frame(3, 1, peer.u32(0))[:10])
            session.conn.close()
            self.assertEqual(session.wait_exit(), 0)


class Notices(unittest.TestCase):
    def end_with(self, code, body, expected_line):
        with peer.Session(env=peer.program_env(peer.TRACE)) as session:
            session.request(3, 1, peer.u32(0))
            session.send_packet(code, 0, body)
            self.assertTrue(session.closed_by_program())
            self.assertEqual(session.wait_exit(), 0)
            err = session.stderr()
            self.assertIn(expected_line, err)
            self.assertIn("action: %x, req_id: 0" % code, err)
            self.assertIn("Client exited", err)

    def test_print_done_ends_promptly(self):
        with peer.Session() as session:
            session.send_packet(0x3001, 0, peer.reply_body(0, b"done"))
            self.assertTrue(session.closed_by_program(timeout=5))
            sent = time.monotonic()
            self.assertEqual(session.wait_exit(), 0)
            self.assertLess(session.exited_at - sent, 3.0)

    def test_notice_texts(self):
        self.end_with(0x3001, peer.reply_body(5), "print done: 5, msg: (null)")
        self.end_with(0x3001, struct.pack(">iI", -3, 4) + b"ab\x00d", 'print done: -3, msg: "ab"')
        self.end_with(0x3003, struct.pack(">II", 7, 100) + b"short",
                      "cancel print done: 7, msg: (null)")


if __name__ == "__main__":
    peer.main()
