#include "printer_driver.h"

#include <cstring>

#include "onward.h"
#include "raster_job.h"

namespace {

constexpr const char *WINE_SCHEME = "wine";

bool no_devices(pappl_device_cb_t, void *, pappl_deverror_cb_t, void *) {
    return false;
}
bool open_nothing(pappl_device_t *, const char *, const char *) {
    return true;
}
void close_nothing(pappl_device_t *) {}
ssize_t read_nothing(pappl_device_t *, void *, size_t) {
    return 0;
}
ssize_t write_nowhere(pappl_device_t *, const void *, size_t bytes) {
    return ssize_t(bytes);
}
pappl_preason_t status_fine(pappl_device_t *) {
    return PAPPL_PREASON_NONE;
}
char *no_device_id(pappl_device_t *, char *, size_t) {
    return nullptr;
}

void delete_setup(pappl_printer_t *, pappl_pr_driver_data_t *data) {
    delete static_cast<PrinterSetup *>(data->extension);
    data->extension = nullptr;
}

pappl_media_col_t media_col(const DriverChoices &c, const MediaChoice &m, const char *source) {
    pappl_media_col_t col{};
    col.size_width = m.width;
    col.size_length = m.length;
    col.left_margin = col.right_margin = c.left_right;
    col.top_margin = col.bottom_margin = c.bottom_top;
    snprintf(col.size_name, sizeof col.size_name, "%s", m.pwg_name.c_str());
    snprintf(col.source, sizeof col.source, "%s", source);
    snprintf(col.type, sizeof col.type, "stationery");
    return col;
}

// The report of the last scan: only the prefix's printers found then, whose
// report could be read, are served.
bool driver_report(AppState &app, const std::string &wine_name, DriverReport &report) {
    std::lock_guard<std::mutex> hold(app.mutex);
    auto found = app.reports.find(wine_name);
    if (found == app.reports.end())
        return false;
    report = found->second;
    return true;
}

void log_identify(pappl_printer_t *printer, pappl_identify_actions_t, const char *message) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify: %s", message ? message : "");
}

// What a driver reports of its ink or toner, Wine does not pass on: one
// supply of unknown level, as IPP Everywhere asks for one.
bool report_supplies(pappl_printer_t *printer) {
    pappl_supply_t supply = {PAPPL_SUPPLY_COLOR_NO_COLOR, "Supplies (reported by the driver)", true,
                             -1, PAPPL_SUPPLY_TYPE_OTHER};
    papplPrinterSetSupplies(printer, 1, &supply);
    return true;
}

// Attributes IPP Everywhere requires that the printer system leaves to the
// driver. Page overrides are not applied; clients use them rarely.
ipp_t *required_attributes(const DriverChoices &c) {
    static const char *const overrides[] = {"document-number", "pages"};
    ipp_t *attrs = ippNew();
    ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr,
                  overrides);
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
                 "auto");
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported",
                 nullptr, "auto");
    if (!c.duplex) // with duplex, the printer system says it
        ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back",
                     nullptr, "normal");
    return attrs;
}

} // namespace

void register_wine_device_scheme() {
    papplDeviceAddScheme(WINE_SCHEME, PAPPL_DEVTYPE_CUSTOM_LOCAL, no_devices, open_nothing,
                         close_nothing, read_nothing, write_nowhere, status_fine, no_device_id);
}

std::string wine_device_uri(const std::string &wine_name) {
    char uri[1024];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, WINE_SCHEME, nullptr, "localhost", 0,
                     "/%s", wine_name.c_str());
    return uri;
}

std::string wine_name_from_uri(const char *device_uri) {
    char scheme[32], user[256], host[256], resource[1024];
    int port;
    if (!device_uri ||
        httpSeparateURI(HTTP_URI_CODING_ALL, device_uri, scheme, sizeof scheme, user, sizeof user,
                        host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK ||
        strcmp(scheme, WINE_SCHEME) != 0 || resource[0] != '/')
        return "";
    return resource + 1;
}

void fill_driver_data(const DriverChoices &c, pappl_pr_driver_data_t *d) {
    snprintf(d->make_and_model, sizeof d->make_and_model, "%s", c.make_and_model.c_str());
    d->ppm = 10;
    d->ppm_color = c.color ? 10 : 0;
    d->kind = PAPPL_KIND_DOCUMENT;
    d->orient_default = IPP_ORIENT_PORTRAIT;
    // A Windows printer cannot be made to blink: "identify" writes to the log.
    d->identify_cb = log_identify;
    d->identify_default = d->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    d->status_cb = report_supplies;
    d->color_supported = c.color ? PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR |
                                       PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL
                                 : PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL;
    d->color_default = c.color_default ? PAPPL_COLOR_MODE_COLOR : PAPPL_COLOR_MODE_MONOCHROME;
    d->content_default = PAPPL_CONTENT_AUTO;
    d->quality_default = IPP_QUALITY_NORMAL;
    d->scaling_default = PAPPL_SCALING_AUTO;
    d->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_BLACK_1 |
                      (c.color ? PAPPL_PWG_RASTER_TYPE_SRGB_8 : 0);
    d->duplex = c.duplex ? PAPPL_DUPLEX_NORMAL : PAPPL_DUPLEX_NONE;
    d->sides_supported = PAPPL_SIDES_ONE_SIDED;
    if (c.duplex)
        d->sides_supported |= PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
    d->sides_default = c.sides_default == SidesChoice::LONG_EDGE ? PAPPL_SIDES_TWO_SIDED_LONG_EDGE
                       : c.sides_default == SidesChoice::SHORT_EDGE
                           ? PAPPL_SIDES_TWO_SIDED_SHORT_EDGE
                           : PAPPL_SIDES_ONE_SIDED;
    d->num_resolution = int(c.resolutions.size());
    for (size_t i = 0; i < c.resolutions.size(); ++i) {
        d->x_resolution[i] = c.resolutions[i].x;
        d->y_resolution[i] = c.resolutions[i].y;
    }
    d->x_default = c.default_resolution.x;
    d->y_default = c.default_resolution.y;
    d->borderless = c.borderless;
    d->left_right = c.left_right;
    d->bottom_top = c.bottom_top;
    d->num_media = int(c.media.size());
    for (size_t i = 0; i < c.media.size(); ++i)
        d->media[i] = c.media[i].pwg_name.c_str();
    d->num_source = int(c.sources.size());
    for (size_t i = 0; i < c.sources.size(); ++i) {
        d->source[i] = c.sources[i].keyword.c_str();
        d->media_ready[i] = media_col(c, c.media[c.default_media], d->source[i]);
    }
    d->media_default = media_col(c, c.media[c.default_media], d->source[c.default_source]);
    d->num_type = 1;
    d->type[0] = "stationery";
}

PrinterSetup *setup_of_printer(pappl_printer_t *printer) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    return static_cast<PrinterSetup *>(data.extension);
}

bool wine_driver_callback(pappl_system_t *system, const char *driver_name, const char *device_uri,
                          const char *, pappl_pr_driver_data_t *driver_data, ipp_t **attrs,
                          void *data) {
    auto &app = *static_cast<AppState *>(data);
    std::string wine_name = wine_name_from_uri(device_uri);
    if (!driver_name || strcmp(driver_name, WINE_DRIVER_NAME) != 0 || wine_name.empty()) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "No Wine printer for driver %s and device %s",
                 driver_name ? driver_name : "(none)", device_uri ? device_uri : "(none)");
        return false;
    }
    DriverReport report;
    if (!driver_report(app, wine_name, report)) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR,
                 "The prefix has no Wine printer %s with a driver report", wine_name.c_str());
        return false;
    }
    auto *setup = new PrinterSetup{&app, wine_name, choose_driver_settings(report), ""};
    {
        std::lock_guard<std::mutex> hold(app.mutex);
        setup->destination = destination_for(app.destinations[wine_name], app.ports[wine_name],
                                             app.config.output_dir_chosen);
    }
    fill_driver_data(setup->choices, driver_data);
    *attrs = required_attributes(setup->choices);
    driver_data->extension = setup;
    driver_data->delete_cb = delete_setup;
    set_raster_callbacks(driver_data);
    return true;
}
