"""The program's catalogue (src/base/protocol_codes.h) and the Linux side's
(client/tavri_print/protocol.py) name the same codes, statuses and exit codes."""
import pathlib
import re
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "client"))
from tavri_print import protocol  # noqa: E402

HEADER = ROOT / "src" / "base" / "protocol_codes.h"
ENTRY = re.compile(r"^\s*([A-Z][A-Z0-9_]*) = (0x[0-9A-Fa-f]+|\d+),\s*(?://\s*(.*))?$")
# Any constant or enumerator given a number, elsewhere in the sources.
DECLARATION = re.compile(r"\b([A-Z][A-Z0-9_]*)\s*=\s*(?:0x[0-9A-Fa-f]+|\d+)\w*\s*[,;]")
# Names that differ beyond the C++ prefix (ACTION_, NOTIFY_, MSG_).
PYTHON_NAMES = {"REPLY_BASE": "ANSWER", "MSG_HEARTBEAT": "PROGRAM_HEARTBEAT",
                "NOTIFY_HEARTBEAT": "SERVER_HEARTBEAT"}


def entries(path):
    """name -> (value, meaning) of every `NAME = value,` line."""
    found = {}
    for line in path.read_text(encoding="utf-8").splitlines():
        match = ENTRY.match(line)
        if match:
            name, value, meaning = match.groups()
            found[name] = (int(value, 0), (meaning or "").strip())
    return found


class Catalogue(unittest.TestCase):
    def test_both_sides_give_each_number_one_name_and_meaning(self):
        cpp = entries(HEADER)
        codes = {name: value for name, (value, _) in cpp.items()
                 if not name.startswith(("STATUS_", "EXIT_"))}
        self.assertEqual(len(codes), 16, sorted(codes))
        for name, value in codes.items():
            python_name = PYTHON_NAMES.get(name, re.sub(r"^(ACTION|NOTIFY|MSG)_", "", name))
            self.assertEqual(getattr(protocol, python_name, None), value,
                             "%s = %#x has no equal %s in protocol.py" % (name, value, python_name))
        for prefix, meanings in (("STATUS_", protocol.STATUS_MEANINGS),
                                 ("EXIT_", protocol.EXIT_MEANINGS)):
            group = {name: entry for name, entry in cpp.items() if name.startswith(prefix)}
            values = [value for value, _ in group.values()]
            self.assertEqual(len(values), len(set(values)), "%s: a number with two names" % prefix)
            self.assertEqual(sorted(values), sorted(meanings), prefix)
            self.assertEqual([name for name, (_, meaning) in group.items() if not meaning], [],
                             "names without a meaning on their line")

    def test_no_other_source_declares_a_catalogue_name(self):
        names = set(entries(HEADER))
        for path in sorted((ROOT / "src").rglob("*.[ch]*")):
            if path == HEADER:
                continue
            twins = names & set(DECLARATION.findall(path.read_text(encoding="utf-8")))
            self.assertFalse(twins, "%s declares %s again" % (path.relative_to(ROOT), sorted(twins)))


if __name__ == "__main__":
    unittest.main()
