// The IPP printer name of each Wine printer. The rule, so that a user can
// tell the URI ipp://localhost:PORT/ipp/print/NAME from the Wine name:
//  - ASCII letters, digits, '-', '_' and '.' stay as they are;
//  - every run of other characters (spaces, '/', '\', non-ASCII...) becomes one '_';
//  - '_' at either end is dropped;
//  - a name that does not then begin with a letter gets "printer-" in front
//    (an empty one becomes "printer");
//  - it is cut to 100 bytes;
//  - a name taken by an earlier printer of the list gets "-2", "-3", ... .
// Such a name is its own resource path: the printer system changes nothing in it.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

std::string printer_name_for(std::string_view wine_name);

// One name per Wine printer, in the list's order, none twice.
std::vector<std::string> unique_printer_names(const std::vector<std::string> &wine_names);

// The name for a Wine printer that no name of `taken` has, in any case: the
// printer system finds printers by name without regard to case.
std::string unused_printer_name(std::string_view wine_name, const std::vector<std::string> &taken);

// The name a printer is advertised under by DNS-SD: its own, then whose it
// is, so that the applications of several users, which serve the same Wine
// printers (Wine imports every CUPS queue), do not collide (avahi refuses a
// second service of one name): "NAME (USER)", with the prefix's folder name
// when it is not ".wine". At most 63 bytes, a DNS label; the printer's name
// is what is cut.
std::string dns_sd_name_for(std::string_view printer_name, std::string_view user,
                            std::string_view prefix);

// A printer being served: its id, name, the Wine printer it stands for
// (empty: none) and whether it has jobs that have not ended.
struct ServedPrinter {
    int id = 0;
    std::string name, wine_name;
    bool busy = false;
};

// What makes the served printers match the prefix's Wine printers: a new
// printer, under a name not taken, for each Wine printer not served; the
// removal of each printer whose Wine printer is gone, unless it has jobs
// (then it goes at a later scan). Printers that stand for no Wine printer
// are left alone.
struct PrinterChanges {
    std::vector<std::pair<std::string, std::string>> add; // Wine name, printer name
    std::vector<int> remove;                              // printer ids
};
// Wine printers in `withdrawn` are not added.
PrinterChanges plan_printer_changes(const std::vector<std::string> &wine_names,
                                    const std::vector<ServedPrinter> &served,
                                    const std::set<std::string> &withdrawn = {});

// The Wine printers whose printer the owner deleted: `withdrawn` so far, and
// each one served at the last scan (`served_before`), not served now and
// still in the prefix; one gone from the prefix is forgotten, so that a
// printer added to it again is served again.
std::set<std::string> withdrawn_printers(const std::vector<std::string> &wine_names,
                                         const std::set<std::string> &served_before,
                                         const std::vector<ServedPrinter> &served,
                                         std::set<std::string> withdrawn);
