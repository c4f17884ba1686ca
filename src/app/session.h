// The program's one client session: shared state reset, the outgoing side
// of the transport started, the connection made, messages dispatched until
// the dispatcher returns, then everything torn down in a fixed order.
#pragma once

int MainLoop(int port);
int init_session();
void end_session();
