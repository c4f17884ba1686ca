// Pure: builds natively, no windows.h.
#include "query/query_format.h"

namespace {

// A line of TAB-separated fields, ended when it goes out of scope: numbers
// in decimal, texts made safe by field_text.
class Line {
  public:
    explicit Line(std::wstring &out) : out(out) {}
    Line(std::wstring &out, const wchar_t *key) : out(out) { *this << key; }
    ~Line() { out += L'\n'; }
    Line &operator<<(int32_t value) { return field(std::to_wstring(value)); }
    Line &operator<<(std::wstring_view text) { return field(field_text(text)); }

  private:
    Line &field(const std::wstring &text) {
        if (!first)
            out += L'\t';
        first = false;
        out += text;
        return *this;
    }
    std::wstring &out;
    bool first = true;
};

void format_metrics(Line &line, const PaperMetrics &m) {
    line << m.physical_width << m.physical_height << m.offset_x << m.offset_y << m.printable_width
         << m.printable_height << m.dpi_x << m.dpi_y;
}

void format_default(std::wstring &out, const wchar_t *key, const std::optional<int32_t> &value) {
    if (value)
        Line(out, L"default") << key << *value;
}

void format_defaults(std::wstring &out, const DefaultSettings &d) {
    format_default(out, L"paper", d.paper);
    format_default(out, L"bin", d.bin);
    if (d.resolution)
        Line(out, L"default") << L"resolution" << d.resolution->x << d.resolution->y;
    format_default(out, L"color", d.color);
    format_default(out, L"duplex", d.duplex);
    format_default(out, L"orientation", d.orientation);
    format_default(out, L"copies", d.copies);
    format_default(out, L"collate", d.collate);
}

} // namespace

std::wstring field_text(std::wstring_view name) {
    std::wstring text(name);
    for (wchar_t &c : text)
        if (c == L'\t' || c == L'\r' || c == L'\n')
            c = L' ';
    return text;
}

std::wstring format_printer_list(const std::vector<PrinterEntry> &printers) {
    std::wstring out;
    for (const PrinterEntry &p : printers)
        Line(out) << p.name << p.driver << p.port << (p.is_default ? L"default" : L"-");
    return out;
}

std::wstring format_capabilities(const PrinterCapabilities &c) {
    std::wstring out;
    Line(out, L"printer") << c.printer;
    Line(out, L"driver") << c.driver;
    Line(out, L"color") << int32_t(c.color);
    Line(out, L"duplex") << int32_t(c.duplex);
    Line(out, L"copies") << c.copies;
    Line(out, L"collate") << int32_t(c.collate);
    for (const Resolution &r : c.resolutions)
        Line(out, L"resolution") << r.x << r.y;
    for (const PaperBin &b : c.bins)
        Line(out, L"bin") << b.id << b.name;
    for (const Paper &p : c.papers) {
        Line line(out, L"paper");
        line << p.id << p.width << p.height;
        format_metrics(line, p.metrics);
        line << p.name;
    }
    format_defaults(out, c.defaults);
    out += L"end\n";
    return out;
}
