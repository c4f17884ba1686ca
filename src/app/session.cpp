#include "app/session.h"

#include "diag/log_line.h"
#include "net/connection.h"
#include "net/heartbeat.h"
#include "net/send_queue.h"
#include "service/dispatcher.h"
#include "base/job_state.h"

int init_session() {
    reset_job_state();
    server_socket = INVALID_SOCKET;
    connected = 0;
    heartbeat_thread = heartbeat_event = nullptr;
    send_thread = nullptr;
    if (!init_send_queue()) {
        free_send_queue();
        return 0;
    }
    if (!start_send_thread()) {
        free_send_queue();
        return 0;
    }
    job_state = JOB_STATE_IDLE;
    return 1;
}

// The heartbeat goes first because it queues packets itself; the send thread
// goes before the queue it drains; the socket closes after the send thread
// has stopped using it.
void end_session() {
    stop_heartbeat_timer();
    if (send_thread_running.load() || send_thread)
        stop_send_thread();
    free_send_queue();
    if (connected)
        close_server_socket();
}

int MainLoop(int port) {
    LOG_PROGRESS("MainLoop", "%sClient running\n");
    if (!init_session()) {
        LOG_PROGRESS("MainLoop", "%sFailed to initialize client\n");
        return 1;
    }
    LOG_PROGRESS("MainLoop", "%sNew connection request: %d\n", port);
    if (ConnectToServer(port)) {
        LOG_PROGRESS("MainLoop", "%sconnected successfully\n");
        ProcessServerMessages();
    } else {
        LOG_PROGRESS("MainLoop", "%sFailed to connect\n");
    }
    end_session();
    return 0;
}
