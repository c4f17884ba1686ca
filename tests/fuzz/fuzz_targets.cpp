// libFuzzer targets over the pure logic, one per executable: FUZZ_TARGET names
// the function that takes the input. What a target parses is an exact-size
// heap copy, so a read past it trips AddressSanitizer even where more input
// follows; the checks are what the program's callers rely on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_order.h"
#include "base/print_request.h"
#include "capabilities_json.h"
#include "driver_data.h"
#include "job_settings.h"
#include "page_image.h"
#include "pdf_plan.h"
#include "query_report.h"
#include "raster_pages.h"
#include "saved_jobs.h"
#include "net/packet.h"
#include "imaging/bmp_file.h"
#include "service/messages.h"
#include "wine_job.h"

#include <cups/raster.h>
#include <sys/mman.h>
#include <unistd.h>

#define CHECK(condition)                                                                           \
    ((condition) ? void(0) : (fprintf(stderr, "check failed: %s\n", #condition), abort()))

using Bytes = std::vector<uint8_t>;

Bytes copy(const uint8_t *data, size_t size) {
    return Bytes(data, data + size);
}

// A notice long enough to be handled has its text wholly inside its body.
void check_notice(uint16_t code, const Bytes &body) {
    if ((code != NOTIFY_PRINT_DONE && code != NOTIFY_CANCEL_PRINT_DONE) ||
        body.size() < size_t(minimum_body_length(code)))
        return;
    Notice notice = parse_notice(body.data(), body.size());
    uint32_t claimed = read_be32(&body[4]);
    bool inside = claimed && claimed <= body.size() - 8;
    CHECK(notice.status == int32_t(read_be32(&body[0])) &&
          notice.text_length == (inside ? claimed : 0));
    CHECK(notice.text == (inside ? (const char *)&body[8] : nullptr));
}

// A byte stream read packet by packet as the receiver reads it: a packet that
// passes the checks frames back to its own bytes, and a notice among them is
// parsed as the dispatcher parses it. (The answers' bodies are compared byte
// by byte end to end.)
void fuzz_packet(const uint8_t *data, size_t size) {
    for (size_t at = 0; size - at >= PACKET_HEADER_SIZE;) {
        PacketHeader header = decode_packet_header(copy(data + at, PACKET_HEADER_SIZE).data());
        uint32_t length = header.length;
        if (check_packet_header(header) || check_body_length(length) ||
            size - at < PACKET_OVERHEAD + length ||
            read_be32(data + at + PACKET_HEADER_SIZE + length) != PACKET_TRAILER)
            return;
        Bytes body = copy(data + at + PACKET_HEADER_SIZE, length);
        Bytes framed(PACKET_OVERHEAD + length);
        frame_packet(framed.data(), header.action, header.req_id, body.data(), length);
        CHECK(!memcmp(framed.data(), data + at, framed.size()));
        check_notice(header.action, body);
        at += framed.size();
    }
}

// A page file that passes the checks has a drawing header whose pixels lie
// wholly in the file, with a colour table only where the bit count has one.
void fuzz_bmp(const uint8_t *data, size_t size) {
    Bytes file = copy(data, size);
    BmpPage page;
    BmpProblem problem = check_bmp_page(file.data(), file.size(), &page);
    CHECK(*bmp_problem_text(problem));
    if (problem != BmpProblem::NONE)
        return;
    const DibHeader &h = page.info.header;
    uint64_t stride = (uint64_t(page.width) * h.biBitCount + 31) / 32 * 4;
    CHECK(h.biSize == 40 && page.width == h.biWidth && page.width > 0 && page.rows <= INT32_MAX &&
          page.rows == uint32_t(std::abs(int64_t(page.height))));
    CHECK(h.biSizeImage == stride * page.rows && page.bits_offset >= 54 &&
          uint64_t(page.bits_offset) + h.biSizeImage <= file.size());
    CHECK((h.biClrUsed == 0) == (h.biBitCount > 8) && h.biClrImportant <= h.biClrUsed &&
          (h.biBitCount > 8 || h.biClrUsed <= 1u << h.biBitCount));
}

// A raster page as the printer application receives it: a header from the
// network (sizes, colour space, depths, resolution), then its lines. A page
// that is planned has a layout whose rows lie in the file, and every line
// converts into exactly one stored row.
void fuzz_page_image(const uint8_t *data, size_t size) {
    constexpr size_t HEADER = 24;
    constexpr uint64_t LIMIT = 1 << 20; // the page limit, small enough to fuzz
    if (size < HEADER)
        return;
    std::optional<PixelKind> kind = pixel_kind(data[20], data[21], data[22]);
    if (!kind)
        return;
    unsigned shift = data[23] % 32;
    RasterFormat format{read_be32(data) >> shift,     read_be32(data + 4) >> shift,
                        read_be32(data + 8) >> shift, read_be32(data + 12),
                        read_be32(data + 16),         *kind};
    BmpLayout layout;
    if (plan_page(format, LIMIT, layout) != PageRefusal::NONE)
        return;
    CHECK(layout.stride % 4 == 0 && layout.file_size <= LIMIT &&
          layout.file_size == layout.pixel_offset + uint64_t(layout.stride) * format.height);
    CHECK(uint64_t(format.width) * layout.bits <= uint64_t(layout.stride) * 8);
    CHECK(bmp_headers(format, layout).size() == layout.pixel_offset);
    Bytes row(layout.stride);
    size_t at = HEADER;
    for (uint32_t y = 0; y < format.height && size - at >= format.bytes_per_line; ++y) {
        Bytes line = copy(data + at, format.bytes_per_line);
        convert_line(format, layout, line.data(), row.data());
        uint64_t offset = row_offset(layout, format.height, y);
        CHECK(offset >= layout.pixel_offset && offset + layout.stride <= layout.file_size);
        at += format.bytes_per_line;
    }
}

// A job's request (24 bytes: media size, resolution, sides, colour, media and
// source chosen, page count) on the printer of the driver report that follows
// (read as a printer list too): an accepted report gives choices within what
// a printer may offer, and the record of a job's settings, read back as the
// program reads it, holds every setting as chosen.
void fuzz_start_print(const uint8_t *data, size_t size) {
    constexpr size_t HEADER = 24;
    if (size < HEADER)
        return;
    Bytes text = copy(data + HEADER, size - HEADER);
    std::string_view view((const char *)text.data(), text.size());
    std::vector<WinePrinter> printers;
    parse_printer_list(view, printers);
    // The same bytes as a saved state, repaired once for good, and as a
    // stream of PDF documents, each found where one begins.
    std::vector<int> lost, lost_again;
    std::string repaired = repair_saved_jobs(view, lost);
    CHECK(repair_saved_jobs(repaired, lost_again) == repaired && lost_again.empty());
    std::vector<size_t> starts = pdf_document_starts(view);
    CHECK(starts[0] == 0);
    for (size_t i = 1; i < starts.size(); ++i)
        CHECK(starts[i] > starts[i - 1] && view.substr(starts[i], 5) == "%PDF-");
    DriverReport report;
    if (!parse_driver_report(view, report).empty())
        return;
    DriverChoices c = choose_driver_settings(report);
    CHECK(!c.media.empty() && c.media.size() <= MAX_MEDIA && c.default_media < c.media.size());
    CHECK(!c.resolutions.empty() && c.resolutions.size() <= MAX_RESOLUTIONS);
    CHECK(!c.sources.empty() && c.sources.size() <= MAX_SOURCES &&
          c.default_source < c.sources.size());
    CHECK(capabilities_json(report, c).ends_with("}\n")); // printable areas of any numbers
    for (size_t i = 0; i < c.media.size(); ++i) {
        const MediaChoice &m = c.media[i];
        CHECK(!m.pwg_name.empty() && m.width > 0 && m.length > 0 && (m.points >> 16) &&
              (m.points & 0xffff));
        for (size_t j = 0; j < i; ++j) // a job names one of them
            CHECK(c.media[j].pwg_name != m.pwg_name);
    }
    const uint8_t *h = data;
    JobRequest request{.media_width = int32_t(read_be32(h)),
                       .media_length = int32_t(read_be32(h + 4)),
                       .sides = SidesChoice(h[16] % 3),
                       .colour = bool(h[17] & 1),
                       .x_dpi = read_be32(h + 8),
                       .y_dpi = read_be32(h + 12)};
    if (h[17] & 2) { // one of the offered resolutions
        const DeviceResolution &offered = c.resolutions[request.x_dpi % c.resolutions.size()];
        request.x_dpi = uint32_t(offered.x);
        request.y_dpi = uint32_t(offered.y);
    }
    if (!(h[18] & 0x80))
        request.media_name = c.media[h[18] % c.media.size()].pwg_name;
    request.media_source =
        h[19] & 0x80 ? "not-offered" : c.sources[h[19] % c.sources.size()].keyword;
    uint32_t page_count = read_be32(h + 20);

    JobSettings s = map_job_request(request, c);
    s.job_id = page_count ^ 0x5a5a5a5a;
    s.printer = report.printer;
    s.output_name = "tavri-app-1-" + std::to_string(s.job_id) + ".prn";
    std::vector<unsigned char> record;
    std::string error;
    if (!build_start_print(s, page_count, record, error)) {
        CHECK(!error.empty());
        return;
    }

    CHECK(record.size() == PRINT_REQUEST_SIZE);
    PrintRequest r;
    memcpy(&r, record.data(), sizeof r);
    print_request_to_host(&r);
    CHECK(name_field_terminated(r.printer_name) && name_field_terminated(r.output_file_name));
    CHECK(r.job_id == s.job_id && r.reserved1 == page_count && r.scale == s.scale);
    CHECK(r.data_type == DATA_TYPE_BITMAP && r.copies == 1 && (r.fields & FIELD_COPIES));
    auto same = [&](const std::optional<uint32_t> &chosen, uint32_t field, uint32_t bit) {
        CHECK(bool(r.fields & bit) == chosen.has_value() && (!chosen || field == *chosen));
    };
    same(s.paper, r.paper_size, FIELD_PAPER_SIZE);
    same(s.paper_source, r.paper_source, FIELD_PAPER_SOURCE);
    same(s.duplex, r.duplex, FIELD_DUPLEX);
    same(s.color, r.color, FIELD_COLOR);
    same(s.y_dpi, r.y_resolution, FIELD_Y_RESOLUTION);
    CHECK(bool(r.fields & FIELD_PRINT_QUALITY) == s.x_dpi.has_value());
    if (r.fields & FIELD_PRINT_QUALITY) // a positive quality is a resolution, a DEVMODE short
        CHECK(r.print_quality > 0 && r.print_quality <= INT16_MAX &&
              uint32_t(r.print_quality) == *s.x_dpi && r.y_resolution <= INT16_MAX);
}

// A raster document as a client sends it, the totals its first page and an
// Apple header may say cleared, so that its pages are walked: a count that
// accepts it has found exactly the pages the printer system's reader
// reads, each of them whole.
void fuzz_raster_pages(const uint8_t *data, size_t size) {
    Bytes file = copy(data, size);
    for (size_t total : {size_t(8), size_t(4 + 452)})
        if (file.size() >= total + 4)
            memset(&file[total], 0, 4);
    RasterCount count = count_raster_pages(file, 4, 1 << 16);
    CHECK(count.pages > 0 || !count.refusal.empty());
    if (!count.refusal.empty())
        return;
    int fd = memfd_create("raster", MFD_CLOEXEC);
    CHECK(write(fd, file.data(), file.size()) == ssize_t(file.size()) && !lseek(fd, 0, SEEK_SET));
    cups_raster_t *raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    for (uint64_t page = 0; page < count.pages; ++page) {
        CHECK(cupsRasterReadHeader2(raster, &h));
        Bytes line(h.cupsBytesPerLine);
        for (unsigned y = 0; y < h.cupsHeight; ++y)
            CHECK(cupsRasterReadPixels(raster, line.data(), h.cupsBytesPerLine) ==
                  h.cupsBytesPerLine);
    }
    CHECK(!cupsRasterReadHeader2(raster, &h));
    cupsRasterClose(raster);
    close(fd);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FUZZ_TARGET(data, size);
    return 0;
}
