#include "destination_page.h"

#include <fstream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "cups_queues.h"
#include "onward.h"

namespace {

std::string choices_file(const AppConfig &config) {
    return config.state_file + ".destinations";
}

// Written whole or not at all, the owner's alone.
bool save_choices(AppState &app) {
    std::string path = choices_file(app.config), part = path + ".part";
    int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    std::string text = format_choices(app.destinations);
    bool written = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0)
        close(fd);
    return written && rename(part.c_str(), path.c_str()) == 0;
}

// The printer whose page is asked for: /NAME/destination.
pappl_printer_t *printer_of(pappl_client_t *client) {
    std::string path = papplClientGetURI(client);
    std::string name = path.substr(1, path.rfind('/') - 1);
    return papplSystemFindPrinter(papplClientGetSystem(client), ("/ipp/print/" + name).c_str(), 0,
                                  nullptr);
}

// The choice a form makes: a radio button's value, or for "uri" the
// printer's URI typed beside it. The URI shown without its password, sent
// back unchanged, keeps the password.
std::string form_choice(int count, cups_option_t *form, const std::string &kept) {
    std::string choice = cupsGetOption("to", count, form) ?: "";
    if (choice != "uri")
        return choice;
    choice = cupsGetOption("uri", count, form) ?: "";
    return choice == public_destination(kept) ? kept : choice;
}

// What the owner chose for the printer, else why it cannot be taken.
std::string take_choice(pappl_client_t *client, AppState &app, PrinterSetup &setup) {
    cups_option_t *form = nullptr;
    int count = papplClientGetForm(client, &form);
    std::string kept;
    {
        std::lock_guard<std::mutex> hold(app.mutex);
        kept = app.destinations[setup.wine_name];
    }
    std::string choice = form_choice(count, form, kept);
    bool valid = papplClientIsValidForm(client, count, form);
    cupsFreeOptions(count, form);
    if (!valid || !valid_choice(choice))
        return "Invalid form submission.";
    OnwardCheck check;
    check.queues_known = cups_queues(check.queues);
    check.own_port = papplSystemGetHostPort(papplClientGetSystem(client));
    std::string refusal = choice.empty() || choice == "folder" ? "" : onward_refusal(choice, check);
    if (!refusal.empty())
        return "Not saved: " + refusal + ".";
    std::lock_guard<std::mutex> hold(app.mutex);
    app.destinations[setup.wine_name] = choice;
    setup.destination =
        destination_for(choice, app.ports[setup.wine_name], app.config.output_dir_chosen);
    return save_choices(app) ? "Changes saved." : "The choice could not be kept.";
}

void option(pappl_client_t *client, const std::string &value, const std::string &chosen,
            const std::string &label) {
    papplClientHTMLPrintf(client, "<p><label><input type=\"radio\" name=\"to\" value=\"");
    papplClientHTMLEscape(client, value.c_str(), 0);
    papplClientHTMLPrintf(client, "\"%s> ", value == chosen ? " checked" : "");
    papplClientHTMLEscape(client, label.c_str(), 0);
    papplClientHTMLPuts(client, "</label></p>\n");
}

// A network printer: its URI typed in, shown without a password.
void uri_option(pappl_client_t *client, const std::string &chosen) {
    bool network = chosen.find("://") != std::string::npos;
    papplClientHTMLPrintf(client,
                          "<p><label><input type=\"radio\" name=\"to\" value=\"uri\"%s> The "
                          "network printer at <input type=\"text\" name=\"uri\" size=\"48\" "
                          "placeholder=\"socket://HOST:9100, ipp://HOST/ipp/print\" value=\"",
                          network ? " checked" : "");
    papplClientHTMLEscape(client, network ? public_destination(chosen).c_str() : "", 0);
    papplClientHTMLPuts(client, "\"></label></p>\n");
}

bool destination_page(pappl_client_t *client, void *data) {
    auto &app = *static_cast<AppState *>(data);
    pappl_printer_t *printer = printer_of(client);
    PrinterSetup *setup = printer ? setup_of_printer(printer) : nullptr;
    if (!setup)
        return false;
    if (!papplClientHTMLAuthorize(client))
        return true;
    std::string said =
        papplClientGetMethod(client) == HTTP_STATE_POST ? take_choice(client, app, *setup) : "";
    std::string chosen, port;
    {
        std::lock_guard<std::mutex> hold(app.mutex);
        chosen = app.destinations[setup->wine_name];
        port = app.ports[setup->wine_name];
    }
    papplClientHTMLPrinterHeader(client, printer, "Destination", 0, nullptr, nullptr);
    if (!said.empty()) {
        papplClientHTMLPuts(client, "<div class=\"banner\">");
        papplClientHTMLEscape(client, said.c_str(), 0);
        papplClientHTMLPuts(client, "</div>\n");
    }
    papplClientHTMLStartForm(client, papplClientGetURI(client), false);
    std::string own = queue_of_port(port);
    option(client, "", chosen,
           own.empty() || app.config.output_dir_chosen
               ? "The output folder " + app.config.output_dir + " (the Wine printer's own)"
               : "The CUPS queue " + own + ", which the Wine printer stands for");
    option(client, "folder", chosen, "The output folder " + app.config.output_dir);
    std::vector<CupsQueue> queues;
    cups_queues(queues);
    for (const CupsQueue &q : queues)
        if (!q.temporary && !leads_to_this_machine(q.device_uri))
            option(client, "queue:" + q.name, chosen, "The CUPS queue " + q.name);
    uri_option(client, chosen);
    papplClientHTMLPuts(client, "<p>A USB or LPD printer is reached through a CUPS queue made "
                                "for it.</p><input type=\"submit\" value=\"Save\"></form>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

} // namespace

std::string read_destination_choices(AppState &app, int num_options, cups_option_t *options) {
    std::ifstream in(choices_file(app.config));
    std::stringstream text;
    text << in.rdbuf();
    app.destinations = parse_choices(text.str());
    for (int i = 0; i < num_options; ++i) {
        std::string name = options[i].name, value = options[i].value;
        if (name.rfind("destination.", 0) != 0)
            continue;
        if (!valid_choice(value))
            return "-o " + name +
                   " takes folder, queue:NAME or a socket://, ipp:// or ipps:// "
                   "URI, not \"" +
                   value + "\"";
        if (has_credentials(value))
            return "-o " + name +
                   " names a user or password, which every user of this "
                   "machine can read on a command line: give it on the printer's Destination "
                   "page instead";
        app.destinations[name.substr(12)] = value;
    }
    return "";
}

void add_destination_page(pappl_printer_t *printer, AppState &app) {
    std::string path = std::string("/") + papplPrinterGetName(printer) + "/destination";
    if (!app.with_destination_page.insert(papplPrinterGetID(printer)).second)
        return;
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path.c_str(), "text/html",
                                   destination_page, &app);
    papplPrinterAddLink(printer, "Destination", path.c_str(), PAPPL_LOPTIONS_CONFIGURATION);
}
