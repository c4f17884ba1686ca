// Makes sure the Windows print spooler service runs before printing.
#pragma once

// 1 when the "Spooler" service was confirmed running, else 0. Up to 52
// start calls with `pause_ms` between attempts.
int start_spooler_service(int pause_ms = 100);
