"""Command line, exit codes and the spooler step of the program."""
import socket
import threading
import unittest

import peer


class Startup(unittest.TestCase):
    def test_exit_codes_and_messages(self):
        port = peer.free_port()
        rows = (([], 1, "参数不足。用法: tavri-printer-proxy <端口>"),
                (["9000"], 1, "参数不足"),
                (["x", "0"], 2, "无效的端口号: 0\n"),
                (["x", "65536"], 2, "无效的端口号: 65536\n"),
                (["x", "abc"], 2, "无效的端口号: 0\n"),
                (["x", str(port)], 0, "connect to 127.0.0.1:%d failed: 10061" % port))
        for args, code, line in rows:
            with self.subTest(args=args):
                actual, err = peer.run_program(args, env=peer.program_env(peer.TRACE))
                self.assertEqual(actual, code, err)
                self.assertIn(line, err)
                self.assertEqual("Client exited" in err, code == 0, err)

    def test_port_text_extra_entries_and_spooler_step(self):
        # "PORTx" reads PORT; a third entry is ignored; NO_RPC unset or
        # beginning with "0" runs the spooler step.
        for make_args, no_rpc, spooler in ((lambda p: ["x", "%dx" % p], None, True),
                                           (lambda p: ["x", str(p), "9100"], "0abc", True),
                                           (lambda p: ["x", str(p)], "", False)):
            listener = socket.socket()
            listener.bind(("127.0.0.1", 0))
            listener.listen(1)
            listener.settimeout(30)
            args = make_args(listener.getsockname()[1])
            accepted = []
            server = threading.Thread(target=lambda: accepted.append(listener.accept()[0].close()))
            server.start()
            code, err = peer.run_program(args, env=peer.program_env(peer.TRACE, no_rpc=no_rpc))
            server.join()
            listener.close()
            with self.subTest(args=args, NO_RPC=no_rpc):
                self.assertEqual(code, 0, err)
                self.assertEqual(len(accepted), 1, "no connection")
                self.assertEqual("Start spooler service..." in err, spooler, err)
                self.assertNotIn("start Spooler failed", err)


if __name__ == "__main__":
    peer.main()
