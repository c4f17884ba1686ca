// Makes sure the Windows print spooler service runs before printing.
#pragma once

// 1 when the "Spooler" service was confirmed running, else 0. At most 52
// start calls, with a 100 ms pause after each but the last.
int start_spooler_service();
