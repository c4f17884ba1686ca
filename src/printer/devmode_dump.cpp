#include "printer/devmode_dump.h"

#include <cstring>
#include <string>

#include "diag/debug_channel.h"

namespace {

constexpr const char *DUMP_DEVMODE = "dump_devmode";
constexpr const char *DUMP_FIELDS = "dump_fields";

struct FieldName {
    DWORD bit;
    const char *name;
};

// In the order in which they are printed. The top three bits have no name.
constexpr FieldName FIELD_NAMES[] = {
    {0x00000001, "DM_ORIENTATION"},
    {0x00000002, "DM_PAPERSIZE"},
    {0x00000004, "DM_PAPERLENGTH"},
    {0x00000008, "DM_PAPERWIDTH"},
    {0x00000010, "DM_SCALE"},
    {0x00000020, "DM_POSITION"},
    {0x00000040, "DM_NUP"},
    {0x00000080, "DM_DISPLAYORIENTATION"},
    {0x00000100, "DM_COPIES"},
    {0x00000200, "DM_DEFAULTSOURCE"},
    {0x00000400, "DM_PRINTQUALITY"},
    {0x00000800, "DM_COLOR"},
    {0x00001000, "DM_DUPLEX"},
    {0x00002000, "DM_YRESOLUTION"},
    {0x00004000, "DM_TTOPTION"},
    {0x00008000, "DM_COLLATE"},
    {0x00010000, "DM_FORMNAME"},
    {0x00020000, "DM_LOGPIXELS"},
    {0x00040000, "DM_BITSPERPEL"},
    {0x00080000, "DM_PELSWIDTH"},
    {0x00100000, "DM_PELSHEIGHT"},
    {0x00200000, "DM_DISPLAYFLAGS"},
    {0x00400000, "DM_DISPLAYFREQUENCY"},
    {0x00800000, "DM_ICMMETHOD"},
    {0x01000000, "DM_ICMINTENT"},
    {0x02000000, "DM_MEDIATYPE"},
    {0x04000000, "DM_DITHERTYPE"},
    {0x08000000, "DM_PANNINGWIDTH"},
    {0x10000000, "DM_PANNINGHEIGHT"},
};

// Drivers fill the name fields to the brim without a terminator when the
// name is long enough, so the field's end bounds the text.
template <size_t N>
std::string name_field_text(const BYTE (&field)[N]) {
    const char *text = reinterpret_cast<const char *>(field);
    return std::string(text, strnlen(text, N));
}

void dump_header_fields(const DEVMODEA *dm) {
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmDeviceName: %s\n",
             quote_ansi_string(name_field_text(dm->dmDeviceName).c_str()));
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmSpecVersion: 0x%04x\n", dm->dmSpecVersion);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmDriverVersion: 0x%04x\n", dm->dmDriverVersion);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmSize: 0x%04x\n", dm->dmSize);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmDriverExtra: 0x%04x\n", dm->dmDriverExtra);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmFields: 0x%04lx\n", dm->dmFields);
}

void dump_printing_fields(const DEVMODEA *dm) {
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmOrientation: %d\n", dm->dmOrientation);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmPaperSize: %d\n", dm->dmPaperSize);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmPaperLength: %d\n", dm->dmPaperLength);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmPaperWidth: %d\n", dm->dmPaperWidth);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmScale: %d\n", dm->dmScale);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmCopies: %d\n", dm->dmCopies);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmDefaultSource: %d\n", dm->dmDefaultSource);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmPrintQuality: %d\n", dm->dmPrintQuality);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmColor: %d\n", dm->dmColor);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmDuplex: %d\n", dm->dmDuplex);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmYResolution: %d\n", dm->dmYResolution);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmTTOption: %d\n", dm->dmTTOption);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmCollate: %d\n", dm->dmCollate);
}

void dump_display_fields(const DEVMODEA *dm) {
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmFormName: %s\n",
             quote_ansi_string(name_field_text(dm->dmFormName).c_str()));
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmLogPixels %u\n", dm->dmLogPixels);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmBitsPerPel %lu\n", dm->dmBitsPerPel);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmPelsWidth %lu\n", dm->dmPelsWidth);
    TRACE_ON(dbch_printer, DUMP_DEVMODE, "dmPelsHeight %lu\n", dm->dmPelsHeight);
}

} // namespace

void dump_devmode(const DEVMODEA *device_mode) {
    dump_header_fields(device_mode);
    dump_fields(device_mode->dmFields);
    dump_printing_fields(device_mode);
    dump_display_fields(device_mode);
}

void dump_fields(DWORD fields) {
    int printed = 0;
    DWORD rest = fields;
    for (const FieldName &field : FIELD_NAMES) {
        if (!(rest & field.bit))
            continue;
        if (printed)
            TRACE_ON(dbch_printer, DUMP_FIELDS, " ");
        TRACE_ON(dbch_printer, DUMP_FIELDS, "%s", field.name);
        printed++;
        rest &= ~field.bit;
    }
    if (rest)
        TRACE_ON(dbch_printer, DUMP_FIELDS, " %#lx", rest);
    TRACE_ON(dbch_printer, DUMP_FIELDS, "\n");
}
