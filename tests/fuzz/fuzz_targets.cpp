// libFuzzer targets over the pure logic, one per executable: FUZZ_TARGET names
// the function that takes the input. Slices of it are exact-size heap copies,
// so a read past one trips AddressSanitizer even where more input follows.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/print_request.h"
#include "diag/pxq_options.h"
#include "diag/quote.h"
#include "net/packet.h"
#include "printer/output_path.h"
#include "printer/paper_table.h"
#include "service/bmp_file.h"
#include "service/drive_c_path.h"
#include "service/messages.h"
#include "service/page_placement.h"

[[noreturn]] void fail(const char *what, int line) {
    fprintf(stderr, "fuzz_targets.cpp:%d: check failed: %s\n", line, what);
    abort();
}
#define CHECK(condition) ((condition) ? void(0) : fail(#condition, __LINE__))

using Bytes = std::vector<uint8_t>;

struct Input {
    const uint8_t *data;
    size_t size;

    // Up to n bytes, NUL-terminated when asked.
    Bytes take(size_t n, bool terminated = false) {
        n = std::min(n, size);
        Bytes out(n + terminated, 0);
        std::copy(data, data + n, out.begin());
        data += n, size -= n;
        return out;
    }
    // Big-endian, zero-filled past the end.
    uint32_t u32(int width = 4) {
        uint32_t value = 0;
        for (int i = 0; i < width; i++)
            value = value << 8 | (size ? (size--, *data++) : 0);
        return value;
    }
};

// A byte stream as the server sends it, read packet by packet as the receiver
// does: a packet that passes the checks frames back to its own bytes, and its
// body survives a reply body's build and parse.
void fuzz_packet(Input in) {
    while (in.size >= PACKET_HEADER_SIZE) {
        const uint8_t *start = in.data;
        PacketHeader header = decode_packet_header(in.take(PACKET_HEADER_SIZE).data());
        uint32_t status = check_packet_header(header);
        CHECK(status == (header.magic != PACKET_MAGIC         ? STATUS_BAD_FRAME
                         : header.version != PROTOCOL_VERSION ? STATUS_BAD_VERSION
                                                              : 0));
        uint32_t length = header.length;
        CHECK(check_body_length(length) == (length > MAX_BODY_LENGTH ? STATUS_OUT_OF_MEMORY : 0));
        if (status || length > MAX_BODY_LENGTH || in.size < length + PACKET_TRAILER_SIZE)
            return;
        Bytes body = in.take(length);
        if (in.u32() != PACKET_TRAILER)
            return;
        Bytes framed(length + PACKET_OVERHEAD), reply(8 + length);
        frame_packet(framed.data(), header.action, header.req_id, body.data(), length);
        CHECK(!memcmp(framed.data(), start, framed.size()));
        build_reply_body(reply.data(), header.req_id, (const char *)body.data(), length);
        Notice notice = parse_notice(reply.data(), reply.size());
        CHECK(notice.status == int32_t(header.req_id) && notice.text_length == length);
        CHECK(length ? !memcmp(notice.text, body.data(), length) : !notice.text);
    }
}

// Every numeric field read at its own offset in network order, the names kept
// byte for byte, the paper size taken as the device mode takes it.
void check_print_request(const Bytes &body) {
    PrintRequest request;
    memcpy(&request, body.data(), sizeof(request));
    print_request_to_host(&request);
    const auto *record = reinterpret_cast<const uint8_t *>(&request);
#define AT(field) offsetof(PrintRequest, field)
    for (size_t at : {AT(job_id), AT(fields), AT(collate), AT(copies), AT(duplex), AT(scale),
                      AT(paper_source), AT(paper_size), AT(print_quality), AT(y_resolution),
                      AT(reserved1), AT(color), AT(data_type)})
        CHECK(read_be32(body.data() + at) == *(const uint32_t *)(record + at));
    CHECK(!memcmp(record + 4, body.data() + 4, 2 * PRINTER_NAME_SIZE));
    for (auto *name : {&request.printer_name, &request.output_file_name})
        CHECK(name_field_terminated(*name) == (strnlen(*name, PRINTER_NAME_SIZE) < 128));
    uint32_t width = request.paper_size >> 16, height = request.paper_size & 0xFFFF;
    if (std::optional<int32_t> code = find_paper_code(width, height))
        CHECK(std::any_of(paper_size_table, paper_size_table + PAPER_SIZE_ROWS, [&](auto &row) {
            return row.paper_code == *code && row.width == int(width) && row.height == int(height);
        }));
    for (int points : {int(width), int(height)})
        CHECK(abs(points_to_tenths_mm(points) - std::min(points * 353 / 100, 32767)) <= 1);
}

// One message as the dispatcher takes it, a code and then the body: bodies
// below the code's minimum are dropped, the rest decoded as the dispatcher and
// the start-print path read them.
void fuzz_messages(Input in) {
    uint16_t code = uint16_t(in.u32(2));
    Bytes body = in.take(in.size);
    int minimum = minimum_body_length(code);
    if (minimum > 0 && body.size() < size_t(minimum))
        return;
    if (code == ACTION_START_PRINT)
        check_print_request(body);
    uint8_t answer[PAGE_SIZE_ANSWER_SIZE];
    build_page_size_answer(answer, minimum, code, -int(code));
    CHECK(answer[0] == uint8_t(minimum) &&
          read_be32(answer + 4) == (uint32_t(code) << 16 | uint16_t(-code)));
    if (code != NOTIFY_PRINT_DONE && code != NOTIFY_CANCEL_PRINT_DONE)
        return;
    Notice notice = parse_notice(body.data(), body.size());
    uint32_t claimed = read_be32(body.data() + 4);
    CHECK(notice.status == int32_t(read_be32(body.data())));
    bool inside = claimed && claimed <= body.size() - 8;
    CHECK(notice.text == (inside ? (const char *)body.data() + 8 : nullptr));
    CHECK(notice.text_length == (inside ? claimed : 0));
}

// A page file after the scale and the physical page size: a page that passes
// the checks has a drawing header whose pixels lie wholly in the file, and the
// placement follows from its size.
void fuzz_bmp(Input in) {
    uint32_t scale = in.u32();
    PageMetrics metrics{0, 0, int(in.u32()), int(in.u32()), 0, 0};
    Bytes file = in.take(in.size);
    CHECK(file.size() >= 2 ||
          bmp_signature(file.data(), file.size()) == (file.size() ? file[0] : 0));
    BmpPage page;
    BmpProblem problem = check_bmp_page(file.data(), file.size(), &page);
    CHECK(*bmp_problem_text(problem));
    if (problem != BmpProblem::NONE)
        return;
    const DibHeader &header = page.info.header;
    CHECK(header.biSize == 40 && page.width == header.biWidth && page.width > 0);
    CHECK(page.rows == uint32_t(std::abs(int64_t(page.height))) && page.rows <= INT32_MAX);
    uint64_t stride = (uint64_t(page.width) * header.biBitCount + 31) / 32 * 4;
    CHECK(header.biSizeImage == stride * page.rows && page.bits_offset >= 54);
    CHECK(uint64_t(page.bits_offset) + header.biSizeImage <= file.size());
    if (header.biBitCount <= 8)
        CHECK(header.biClrUsed >= 1 && header.biClrUsed <= (1u << header.biBitCount) &&
              header.biClrImportant <= header.biClrUsed);
    else
        CHECK(header.biClrUsed == 0 && header.biClrImportant == 0);
    auto near = [](int64_t size, int64_t page) { return std::abs(size - page) <= PAGE_SIZE_SLACK; };
    bool page_size =
        near(page.width, metrics.physical_width) && near(page.rows, metrics.physical_height);
    PagePlacement scaled = page_size ? PagePlacement::PAGE_SIZE : PagePlacement::FIT;
    CHECK(choose_placement(scale, page.width, page.rows, metrics) ==
          (scale ? scaled : PagePlacement::AS_IS));
}

// The debug options string, parsed into one configuration before and after an
// unset one: the table stays sorted and bounded, each entry found by name.
void fuzz_pxq(Input in) {
    Bytes text = in.take(in.size, true);
    PxqConfig config{-1, PXQ_DEFAULT_FLAGS, 0, nullptr};
    const char *given = (const char *)text.data();
    for (const char *options : {given, (const char *)nullptr, given}) {
        pxq_parse(&config, options);
        CHECK(config.count >= 0 && config.count <= config.capacity);
        CHECK(config.count > 0 || !pxq_find(&config, "printproxy"));
        for (int i = 0; i < config.count; i++) {
            const char *name = config.options[i].name;
            CHECK(strnlen(name, 15) - 1 < 14 && strcmp(name, "all") != 0);
            CHECK(i == 0 || strcmp(config.options[i - 1].name, name) < 0);
            CHECK(pxq_find(&config, name) == &config.options[i]);
        }
    }
    free(config.options);
}

// Reading a rendering back gives the start of the string, cut only once the
// output has reached its limit, marked "..." when two or more units are left.
template <typename Unit>
void check_quoted(const std::string &out, const std::vector<Unit> &s, size_t limit) {
    const bool wide = sizeof(Unit) == 2;
    const std::string named = "r\rn\nt\t\"\"\\\\";
    size_t at = wide ? 2 : 1, i = 0;
    CHECK(out.compare(0, at, wide ? "L\"" : "\"") == 0);
    for (; at < out.size() && out[at] != '"'; i++) {
        unsigned unit = (unsigned char)out[at++];
        CHECK(unit >= 0x20 && unit <= 0x7E && s[i] != 0);
        size_t escape = unit == '\\' ? named.find(out.at(at)) : std::string::npos;
        if (escape != std::string::npos && escape % 2 == 0) {
            unit = (unsigned char)named[escape + 1], at++;
        } else if (unit == '\\') {
            size_t digits = wide ? 4 : 2;
            CHECK(wide || out.at(at++) == 'x');
            CHECK(out.find_first_not_of("0123456789abcdef", at) >= at + digits);
            unit = std::stoul(out.substr(at, digits), nullptr, 16), at += digits;
            CHECK(unit < 0x20 || unit > 0x7E);
        }
        CHECK(unit == (std::make_unsigned_t<Unit>)s[i]);
    }
    size_t left = 0;
    while (s[i + left])
        left++;
    CHECK(at <= limit + 5 && (left == 0 || at > limit));
    CHECK(out.substr(at) == (left >= 2 ? "\"..." : "\""));
}

// Narrow from the input's bytes, wide from its byte pairs.
void fuzz_quote(Input in) {
    Bytes bytes = in.take(in.size, true);
    std::vector<char> narrow(bytes.begin(), bytes.end());
    check_quoted(render_quoted_narrow(narrow.data()), narrow, 291);
    std::vector<char16_t> wide(bytes.size() / 2 + 1, 0);
    for (size_t i = 0; i + 1 < bytes.size() - 1; i += 2)
        wide[i / 2] = char16_t(bytes[i] << 8 | bytes[i + 1]);
    check_quoted(render_quoted_wide(wide.data()), wide, 290);
}

// A drive with its root, or a UNC or device path.
bool anchored(const std::wstring &path) {
    auto separator = [&](size_t i) { return path[i] == L'\\' || path[i] == L'/'; };
    if (path.size() >= 2 && separator(0) && separator(1))
        return true;
    wchar_t letter = path.empty() ? 0 : path[0] | 0x20;
    return path.size() >= 3 && letter >= L'a' && letter <= L'z' && path[1] == L':' && separator(2);
}

// The output file name as the path the driver gets and the folder that must
// exist for it (from byte pairs); the input's bytes as a unix path through
// Wine's drive-C link.
void fuzz_paths(Input in) {
    std::wstring name;
    for (Input pairs = in; pairs.size >= 2;)
        name.push_back(wchar_t(pairs.u32(2)));
    std::wstring path = output_path_on_drive_c(name), folder = output_folder(path);
    CHECK(name.empty() ? path.empty() : anchored(path) && output_path_on_drive_c(path) == path);
    size_t kept = name.size() - (name.size() >= 2 && name[1] == L':' ? 2 : 0);
    CHECK(path.size() <= name.size() + 3 && path.ends_with(name.substr(name.size() - kept)));
    CHECK(folder.empty() ||
          (anchored(folder) && path.starts_with(folder) &&
           (folder.size() == 3 || std::wstring(L"\\/").find(path.at(folder.size())) < 2)));
    std::string unix_path((const char *)in.data, in.size), candidate;
    size_t root = 0;
    if (drive_c_candidate(unix_path, &candidate, &root)) {
        size_t at = root - 8;
        CHECK(at > 0 && unix_path.compare(at, 14, "/dosdevices/c:") == 0);
        CHECK(candidate == unix_path.substr(0, at) + "/drive_c" + unix_path.substr(at + 14));
        CHECK(unix_path.find("/dosdevices/c:", at + 1) == std::string::npos);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FUZZ_TARGET(Input{data, size});
    return 0;
}
