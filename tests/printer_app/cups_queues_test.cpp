// Which Wine printers are served: never one that comes back to a printer
// application of this machine, through a queue or through DNS-SD.
#include <gtest/gtest.h>

#include "cups_queues.h"

TEST(CupsQueues, NothingThatLeadsBackIsServed) {
    std::vector<WinePrinter> printers = {{"Laser", "", "CUPS:Laser"},
                                         {"Found", "", "CUPS:Found"},
                                         {"Ours", "", "CUPS:Ours"},
                                         {"Gone", "", "CUPS:Gone"},
                                         {"Local", "", "LPT1:"}};
    std::vector<CupsQueue> queues = {{"Laser", "socket://10.0.0.9", false},
                                     {"Found", "ipp://Laser%20(ann)._ipp._tcp.local/", true},
                                     {"Ours", "ipp://localhost:8632/ipp/print/Laser", false}};
    std::vector<std::string> served;
    for (const WinePrinter &p : servable_printers(printers, queues))
        served.push_back(p.name);
    EXPECT_EQ((std::vector<std::string>{"Laser", "Local"}), served);
    for (const char *uri : {"ipps://127.0.0.1:631/ipp/print/x", "ipp://[::1]/ipp/print/x"})
        EXPECT_TRUE(leads_to_this_machine(uri)) << uri;
    for (const char *uri : {"ipp://printer.lan/ipp/print", "ipp://localhost/printers/x",
                            "socket://localhost/ipp/print/x", "ipp://localhost.evil/ipp/print/x"})
        EXPECT_FALSE(leads_to_this_machine(uri)) << uri;
}
