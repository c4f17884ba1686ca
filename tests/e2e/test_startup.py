"""Command line, exit codes and start-up of the program."""
import socket
import threading
import unittest

import peer


class ExitCodes(unittest.TestCase):
    def test_too_few_entries_print_usage(self):
        for args in ([], ["9000"]):
            with self.subTest(args=args):
                code, err = peer.run_program(args)
                self.assertEqual(code, 1, err)
                self.assertIn("参数不足。用法: tavri-printer-proxy <端口>", err)
                self.assertNotIn("running", err)

    def test_invalid_ports(self):
        for text, shown in (("0", 0), ("65536", 65536), ("-1", -1), ("abc", 0)):
            with self.subTest(port=text):
                code, err = peer.run_program(["x", text])
                self.assertEqual(code, 2, err)
                self.assertIn("无效的端口号: %d\n" % shown, err)

    def test_refused_connection_still_exits_zero_with_lines_in_order(self):
        port = peer.free_port()
        code, err = peer.run_program(["x", str(port)], env=peer.program_env(peer.TRACE))
        self.assertEqual(code, 0, err)
        self.assertIn("connect to 127.0.0.1:%d failed: 10061" % port, err)
        lines = ["Client running", "New connection request: %d" % port,
                 "connect to 127.0.0.1:%d failed" % port, "Failed to connect", "Client exited"]
        positions = [err.find(line) for line in lines]
        self.assertNotIn(-1, positions, err)
        self.assertEqual(positions, sorted(positions), err)

    def test_port_text_and_extra_entries(self):
        # "PORTx" reads PORT; a third entry is ignored.
        for make_args in (lambda p: ["x", "%dx" % p], lambda p: ["x", str(p), "9100"]):
            listener = socket.socket()
            listener.bind(("127.0.0.1", 0))
            listener.listen(1)
            port = listener.getsockname()[1]
            args = make_args(port)
            with self.subTest(args=args):
                accepted = []

                def serve():
                    listener.settimeout(30)
                    conn, _ = listener.accept()
                    accepted.append(True)
                    conn.close()

                server = threading.Thread(target=serve)
                server.start()
                code, err = peer.run_program(args)
                server.join()
                listener.close()
                self.assertEqual(code, 0, err)
                self.assertEqual(accepted, [True])


class SpoolerStep(unittest.TestCase):
    def test_spooler_step_follows_no_rpc(self):
        for no_rpc, runs in ((None, True), ("0abc", True), ("1", False), ("", False)):
            with self.subTest(NO_RPC=no_rpc):
                port = peer.free_port()
                code, err = peer.run_program(["x", str(port)],
                                             env=peer.program_env(peer.TRACE, no_rpc=no_rpc))
                self.assertEqual(code, 0, err)
                self.assertEqual("Start spooler service..." in err, runs, err)
                self.assertNotIn("start Spooler failed", err)


if __name__ == "__main__":
    peer.main()
