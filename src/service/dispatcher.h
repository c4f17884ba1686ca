// The heart of a session: receives one message at a time, hands it to its
// handler, and after every message looks for a cancel by the user and for
// a job that has become idle.
#pragma once

int ProcessServerMessages();
