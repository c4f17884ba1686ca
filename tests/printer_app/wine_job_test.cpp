// One job against a stand-in for the Windows program on a loopback
// connection: the packets in order, heartbeats, the user's cancel, and the
// loopback owner check.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/byte_order.h"
#include "base/print_request.h"
#include "delivery.h"
#include "form_origin.h"
#include "ghostscript.h"
#include "onward.h"
#include "loopback.h"
#include "net/packet.h"
#include "page_image.h"
#include "wine_job.h"

namespace {

// The program's side: connects, then reads and writes whole packets.
struct FakeProgram {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    std::vector<Packet> received;

    explicit FakeProgram(uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    ~FakeProgram() { close(fd); }

    // The next packet that is not a heartbeat; code 0 when the connection ended.
    Packet next() {
        for (;;) {
            unsigned char head[PACKET_HEADER_SIZE];
            Packet p;
            if (recv(fd, head, sizeof head, MSG_WAITALL) != ssize_t(sizeof head))
                return p;
            PacketHeader h = decode_packet_header(head);
            p.body.resize(h.length + PACKET_TRAILER_SIZE);
            recv(fd, p.body.data(), p.body.size(), MSG_WAITALL);
            p.body.resize(h.length);
            p.code = h.action;
            p.req_id = h.req_id;
            received.push_back(p);
            if (p.code != NOTIFY_HEARTBEAT)
                return p;
        }
    }
    void send_packet(uint16_t code, uint32_t req_id, const std::vector<unsigned char> &body) {
        std::vector<unsigned char> wire(PACKET_OVERHEAD + body.size());
        frame_packet(wire.data(), code, req_id, body.data(), uint32_t(body.size()));
        send(fd, wire.data(), wire.size(), MSG_NOSIGNAL);
    }
    void reply(uint16_t code, uint32_t req_id, uint32_t status, const std::string &text = "") {
        std::vector<unsigned char> body(8 + text.size());
        build_reply_body(body.data(), status, text.data(), uint32_t(text.size()));
        send_packet(code, req_id, body);
    }
    // Answers start-print and the page-size query (4960 x 7016).
    uint32_t accept_job() {
        Packet start = next();
        reply(0x1001, start.req_id, 0, "OK");
        Packet query = next();
        send_packet(0x1008, query.req_id, {0, 0, 0, 0, 0x13, 0x60, 0x1B, 0x68});
        return read_be32(start.body.data() + 296);
    }
};

struct JobRig {
    WineJob job;
    std::thread program;

    JobRig() {
        job.setup.prefix = "/nonexistent/prefix";
        job.settings.job_id = 42;
        job.settings.printer = "Büro";
        job.settings.output_name = "out\\job.prn";
        job.settings.duplex = 2;
        job.peer.timeouts = {2000, 2000, 50, 100};
    }
    template <class Play>
    void start(Play play) {
        EXPECT_TRUE(peer_listen(job.peer));
        program = std::thread(play, job.peer.port);
        EXPECT_TRUE(peer_accept(job.peer));
    }
    ~JobRig() {
        if (program.joinable())
            program.join();
    }
};

bool never(void *) {
    return false;
}

} // namespace

TEST(WineJob, PagesHeldUntilTheTotalIsKnownThenAResultOfItsOwn) {
    JobRig rig;
    std::vector<Packet> seen;
    rig.start([&](uint16_t port) {
        FakeProgram program(port);
        uint32_t pages = program.accept_job();
        for (uint32_t n = 0; n < pages; ++n) {
            Packet page = program.next();
            usleep(120000); // slower than the heartbeat period
            program.reply(0x1002, page.req_id, 0);
        }
        program.reply(0x2001, 0, 0, "/nonexistent/prefix/dosdevices/c:/out/job.prn");
        program.next(); // print done
        seen = program.received;
    });
    std::string folder = make_page_folder("tavri-app-test");
    for (const char *name : {"/a.bmp", "/b.bmp"}) {
        rig.job.pending.push_back(folder + name);
        close(creat(rig.job.pending.back().c_str(), 0600));
    }
    ASSERT_TRUE(wine_job_start(rig.job, uint32_t(rig.job.pending.size()))) << rig.job.error;
    EXPECT_EQ(4960, rig.job.printable_width);
    EXPECT_EQ(7016, rig.job.printable_height);
    ASSERT_TRUE(wine_job_send_pages(rig.job, never, nullptr)) << rig.job.error;
    EXPECT_TRUE(rig.job.pending.empty());
    EXPECT_NE(0, access((folder + "/a.bmp").c_str(), F_OK)); // removed once answered
    std::string output;
    ASSERT_TRUE(wine_job_finish(rig.job, output)) << rig.job.error;
    EXPECT_EQ("/nonexistent/prefix/dosdevices/c:/out/job.prn", output);
    rig.program.join();
    rmdir(folder.c_str());

    std::vector<uint16_t> codes;
    for (const Packet &p : seen)
        if (p.code != NOTIFY_HEARTBEAT)
            codes.push_back(p.code);
    EXPECT_EQ((std::vector<uint16_t>{1, 8, 2, 2, 0x3001}), codes);
    EXPECT_LT(codes.size(), seen.size()) << "no heartbeat while a page printed";
    PrintRequest record;
    ASSERT_EQ(sizeof record, seen[0].body.size());
    memcpy(&record, seen[0].body.data(), sizeof record);
    print_request_to_host(&record);
    EXPECT_STREQ("B\xFCro", record.printer_name); // the prefix's code page
    EXPECT_STREQ("out\\job.prn", record.output_file_name);
    EXPECT_EQ(FIELD_COPIES | FIELD_DUPLEX, record.fields);
    EXPECT_EQ(1u, record.scale);
    EXPECT_EQ(folder + "/a.bmp", std::string(reinterpret_cast<char *>(seen[2].body.data())));
}

TEST(WineJob, CancelsAndForeignResultsEndTheJobWithEndJobAndACancelNotice) {
    const struct {
        const char *what;
        bool user_cancels;
        const char *result_path;
        const char *error;
    } rows[] = {
        {"user cancel", true, "", "user cancelled"},
        {"other file", false, "/etc/passwd", "not the job's output file"},
        {"failed job", false, nullptr, "the job failed with status 8"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        JobRig rig;
        std::vector<uint16_t> after;
        rig.start([&](uint16_t port) {
            FakeProgram program(port);
            program.accept_job();
            Packet page = program.next();
            program.reply(0x1002, page.req_id, 0);
            if (row.user_cancels)
                program.send_packet(0x2003, 0, {});
            else if (row.result_path)
                program.reply(0x2001, 0, 0, row.result_path);
            else
                program.reply(0x2001, 0, 8);
            for (Packet p = program.next(); p.code; p = program.next()) {
                after.push_back(p.code);
                if (p.code == ACTION_END_JOB)
                    program.reply(0x1006, p.req_id, 0, "OK");
            }
        });
        rig.job.pending.push_back("/nonexistent/page.bmp");
        ASSERT_TRUE(wine_job_start(rig.job, 1));
        ASSERT_TRUE(wine_job_send_pages(rig.job, never, nullptr));
        std::string output;
        EXPECT_FALSE(wine_job_finish(rig.job, output));
        EXPECT_NE(std::string::npos, rig.job.error.find(row.error)) << rig.job.error;
        rig.program.join();
        EXPECT_EQ((std::vector<uint16_t>{ACTION_END_JOB, NOTIFY_CANCEL_PRINT_DONE}), after);
    }
}

// A stop asked while the program works on a page ends the wait within a
// check period, not at the answer time-out, and is asked no more: the job
// then ends as any other.
TEST(WineJob, AStopEndsTheWaitForASlowPageOnce) {
    JobRig rig;
    rig.job.peer.timeouts.check_ms = 20;
    std::vector<uint16_t> after;
    rig.start([&](uint16_t port) {
        FakeProgram program(port);
        program.accept_job();
        program.next(); // the page, never answered
        for (Packet p = program.next(); p.code; p = program.next())
            if (after.push_back(p.code); p.code == ACTION_END_JOB)
                program.reply(0x1006, p.req_id, 0, "OK");
    });
    ASSERT_TRUE(wine_job_start(rig.job, 1));
    int asked = 0;
    rig.job.peer.must_stop = [](void *n) { return ++*static_cast<int *>(n) == 3; };
    rig.job.peer.stop_context = &asked;
    rig.job.pending.push_back("/nonexistent/page.bmp");
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wine_job_send_pages(rig.job, never, nullptr));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)); // not 2 s
    EXPECT_EQ("page 1: the job was stopped", rig.job.error);
    wine_job_abandon(rig.job, "stopped");
    rig.program.join();
    EXPECT_EQ(3, asked);
    EXPECT_EQ((std::vector<uint16_t>{ACTION_END_JOB, NOTIFY_CANCEL_PRINT_DONE}), after);
}

TEST(WineJob, NamesTheCodePageCannotHoldAreRefused) {
    JobSettings settings;
    settings.printer = "打印机";
    settings.output_name = "out.prn";
    std::vector<unsigned char> record;
    std::string error;
    EXPECT_FALSE(build_start_print(settings, 1, record, error));
    settings.printer = std::string(128, 'p');
    EXPECT_FALSE(build_start_print(settings, 1, record, error));
    settings.printer = std::string("Office\0Other", 12); // the record would name "Office"
    EXPECT_FALSE(build_start_print(settings, 1, record, error));
    settings.printer = std::string(127, 'p');
    EXPECT_TRUE(build_start_print(settings, 1, record, error)) << error;
    EXPECT_FALSE(build_start_print(settings, 0, record, error)); // the program refuses it
}

// A program that ends before it connects: its wait status, then the last
// line it wrote, of at most 300 bytes and no control characters; what it
// writes past 64 KiB is not kept.
TEST(WineJob, AProgramThatEndsBeforeConnectingSaysWhy) {
    using Row = std::pair<std::string, std::string>; // script, error after "...connecting: "
    for (const auto &[script, error] :
         {Row{"printf 'x\\nwine: no\\tkernel32.dll\\n\\n' >&2; exit 1",
              "exit status 1: wine: no kernel32.dll"},
          Row{"head -c 70000 /dev/zero | tr '\\0' x >&2; echo y >&2; exit 3",
              "exit status 3: " + std::string(300, 'x')}}) {
        Peer peer;
        ASSERT_TRUE(peer_listen(peer) && peer_launch(peer, {"/bin/sh", "-c", script}, {}));
        EXPECT_FALSE(peer_accept(peer));
        EXPECT_EQ("the program exited before connecting: " + error, peer.error);
        peer_finish(peer, 0, 0, "");
    }
}

TEST(Loopback, TheKernelTableNamesTheOwner) {
    const char *table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n"
        "   0: 0100007F:1F90 0100007F:A000 06 00000000:00000000 00:00000000 00000000     0\n"
        "   1: 0100007F:1F90 0100007F:A000 01 00000000:00000000 00:00000000 00000000  1001\n"
        "   2: 0100007F:A000 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  1002\n";
    EXPECT_EQ(1001u, find_socket_owner(table, "0100007F:1F90", "0100007F:A000"));
    EXPECT_EQ(1002u, find_socket_owner(table, "0100007F:A000", "0100007F:1F90"));
    EXPECT_EQ(std::nullopt, find_socket_owner(table, "0100007F:1F91", "0100007F:A000"));
    EXPECT_EQ(std::nullopt, find_socket_owner("", "a", "b"));
    int local[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, local));
    EXPECT_EQ(getuid(), peer_uid(local[0])); // its credentials, not a table
    close(local[0]);
    close(local[1]);
}

TEST(FormOrigin, OnlyThisServersPagesSendForms) {
    const struct {
        const char *host, *origin, *referer;
        bool same;
    } cases[] = {
        {"127.0.0.1:8000", "http://127.0.0.1:8000", "", true},
        {"LOCALHOST:8000", "https://localhost:8000", "", true},
        {"localhost:8000", "", "http://localhost:8000/Office/media?x=1", true},
        {"127.0.0.1:8000", "http://127.0.0.1:8001", "http://127.0.0.1:8000/", false},
        {"127.0.0.1:8000", "null", "http://127.0.0.1:8000/", false},
        {"127.0.0.1:8000", "http://127.0.0.1:8000.evil", "", false},
        {"127.0.0.1:8000", "", "127.0.0.1:8000/", false},
        {"127.0.0.1:8000", "", "", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.same, same_origin(c.host, c.origin, c.referer)) << c.origin << c.referer;
}

TEST(Delivery, NamesAndPaths) {
    EXPECT_EQ("job-7-My_report.pdf", output_file_stem(7, "My report.pdf"));
    EXPECT_EQ("job-7-_.._etc", output_file_stem(7, "/../etc"));
    EXPECT_EQ("job-7", output_file_stem(7, ""));
    EXPECT_EQ(".ps", output_extension("%!PS-Adobe-3.0"));
    EXPECT_EQ(".ps", output_extension("\x1b%-12345X@PJL\n%!PS"));
    EXPECT_EQ(".pdf", output_extension("%PDF-1.4"));
    EXPECT_EQ(".prn", output_extension("\033E"));
    EXPECT_EQ("/p/dosdevices/c:/a/b.prn", drive_c_path("/p", "\\a//b.prn"));
    EXPECT_EQ("Office 2", queue_of_port("CUPS:Office 2")); // where a job goes on to
    EXPECT_EQ("", queue_of_port("FILE:"));
    EXPECT_EQ("", queue_of_port("cups:Office"));
    // The owner's choice, else where the Wine printer leads.
    EXPECT_EQ("queue:Laser", destination_for("queue:Laser", "CUPS:Office", true));
    EXPECT_EQ("ipp://h/ipp/print", destination_for("ipp://h/ipp/print", "CUPS:Office", false));
    EXPECT_EQ("", destination_for("folder", "CUPS:Office", false));
    EXPECT_EQ("queue:Office", destination_for("", "CUPS:Office", false));
    EXPECT_EQ("", destination_for("", "CUPS:Office", true));
    EXPECT_EQ("", destination_for("", "FILE:", false));
    for (const char *refused : {"queue:a b", "queue:", "queue:a/b", "socket://", "Folder",
                                "lpd://h/q", "ipp://h/a b", "file:///tmp", "queue:a\b"})
        EXPECT_FALSE(valid_choice(refused)) << refused;
    for (const char *taken : {"socket://h", "socket://h:9101", "IPP://u:p@h/ipp/print", "folder"})
        EXPECT_TRUE(valid_choice(taken)) << taken;
    EXPECT_TRUE(has_credentials("ipps://u:p@h/x") && has_credentials("socket://u@h"));
    EXPECT_FALSE(has_credentials("ipp://h/x@y") || has_credentials("queue:a@b"));
    EXPECT_EQ("ipps://h:631/x@y", public_destination("ipps://u:p@h:631/x@y"));
    EXPECT_EQ("ipp://h/x@y", public_destination("ipp://h/x@y"));
    auto kept = parse_choices("Office\tqueue:Laser\nbad line\nLab\tfolder\nX\tqueue:a/b\n\tfolder");
    EXPECT_EQ((std::map<std::string, std::string>{{"Lab", "folder"}, {"Office", "queue:Laser"}}),
              kept);
    EXPECT_EQ("Lab\tfolder\nOffice\tqueue:Laser\n", format_choices(kept));
}

// A command that never ends is given up when the job must stop, not at its
// deadline; one that ends is waited for.
TEST(Ghostscript, AStopEndsTheWaitForACommand) {
    Ghostscript gs;
    ASSERT_TRUE(ghostscript_start(gs, {"-sDEVICE=nullpage"}, "/dev/null"));
    int asked = 0;
    auto stop_at_second = [](void *n) { return ++*static_cast<int *>(n) < 2; };
    EXPECT_TRUE(ghostscript_send(gs, "1 pop") && ghostscript_wait(gs, stop_at_second, &asked));
    EXPECT_TRUE(ghostscript_send(gs, "{} loop"));
    EXPECT_FALSE(ghostscript_wait(gs, stop_at_second, &asked));
    EXPECT_EQ("stopped while Ghostscript worked", gs.error);
    ghostscript_stop(gs);
}
