"""Who is at the other end of a loopback connection. Any local user can
connect to a port of 127.0.0.1, so an address proves nothing; the kernel's
table of TCP sockets names the uid that owns each one."""
from __future__ import annotations

import socket
import struct
from typing import Optional

TABLES = {socket.AF_INET: "/proc/net/tcp", socket.AF_INET6: "/proc/net/tcp6"}
ESTABLISHED = "01"  # a closed socket lingers in the table as root's


def table_address(family: int, host: str, port: int) -> str:
    """An address as the kernel's table writes it: the address's 32-bit
    words in host order, then the port, all in hexadecimal."""
    packed = socket.inet_pton(family, host.split("%")[0])
    words = struct.unpack("=%dI" % (len(packed) // 4), packed)
    return "%s:%04X" % ("".join("%08X" % word for word in words), port)


def peer_uid(conn: socket.socket) -> Optional[int]:
    """The uid that owns the other end of the loopback connection `conn`;
    None when the kernel lists no such open socket."""
    family = conn.family
    ours = table_address(family, *conn.getsockname()[:2])
    theirs = table_address(family, *conn.getpeername()[:2])
    with open(TABLES[family]) as table:
        next(table)
        for line in table:
            fields = line.split()
            if fields[1:4] == [theirs, ours, ESTABLISHED]:
                return int(fields[7])
    return None
