// libFuzzer targets over the pure logic, one per executable: FUZZ_TARGET names
// the function that takes the input. What a target parses is an exact-size
// heap copy, so a read past it trips AddressSanitizer even where more input
// follows; the checks are what the program's callers rely on.
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
#include "service/bmp_file.h"
#include "service/drive_c_path.h"
#include "service/messages.h"

#define CHECK(condition) \
    ((condition) ? void(0) : (fprintf(stderr, "check failed: %s\n", #condition), abort()))

using Bytes = std::vector<uint8_t>;

struct Input {
    const uint8_t *data;
    size_t size;
    Bytes take(size_t n, size_t zeros = 0) { // up to n bytes, then `zeros` NULs
        n = std::min(n, size);
        Bytes out(n + zeros, 0);
        std::copy(data, data + n, out.begin());
        data += n, size -= n;
        return out;
    }
    uint32_t u32(int width = 4) { // big-endian, zero-filled past the end
        uint32_t value = 0;
        for (int i = 0; i < width; i++)
            value = value << 8 | (size ? (size--, *data++) : 0);
        return value;
    }
};

// A byte stream read packet by packet as the receiver reads it: a packet that
// passes the checks frames back to its own bytes, and its body survives a
// reply body's build and parse.
void fuzz_packet(Input in) {
    while (in.size >= PACKET_HEADER_SIZE) {
        const uint8_t *start = in.data;
        PacketHeader header = decode_packet_header(in.take(PACKET_HEADER_SIZE).data());
        uint32_t length = header.length;
        if (check_packet_header(header) || check_body_length(length) ||
            in.size < length + PACKET_TRAILER_SIZE)
            return;
        CHECK(header.magic == PACKET_MAGIC && header.version == PROTOCOL_VERSION &&
              length <= MAX_BODY_LENGTH);
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

// A message as the dispatcher takes it, a code and then the body: a
// start-print record converts field by field from network order and keeps its
// names byte for byte; a notice's text lies wholly inside its body.
void fuzz_messages(Input in) {
    uint16_t code = uint16_t(in.u32(2));
    Bytes body = in.take(in.size);
    int minimum = minimum_body_length(code);
    if (minimum > 0 && body.size() < size_t(minimum))
        return;
    if (code == ACTION_START_PRINT) {
        PrintRequest request;
        memcpy(&request, body.data(), sizeof(request));
        print_request_to_host(&request);
        const auto *record = reinterpret_cast<const uint8_t *>(&request);
        CHECK(request.job_id == read_be32(body.data()) && !memcmp(record + 4, &body[4], 256));
        for (size_t at = offsetof(PrintRequest, fields); at < sizeof(request); at += 4)
            CHECK(read_be32(&body[at]) == *reinterpret_cast<const uint32_t *>(record + at));
        CHECK(name_field_terminated(request.printer_name) ==
              (strnlen(request.printer_name, PRINTER_NAME_SIZE) < PRINTER_NAME_SIZE));
    }
    if (code == NOTIFY_PRINT_DONE || code == NOTIFY_CANCEL_PRINT_DONE) {
        Notice notice = parse_notice(body.data(), body.size());
        uint32_t claimed = read_be32(&body[4]);
        bool inside = claimed && claimed <= body.size() - 8;
        CHECK(notice.status == int32_t(read_be32(&body[0])) &&
              notice.text_length == (inside ? claimed : 0));
        CHECK(notice.text == (inside ? (const char *)&body[8] : nullptr));
    }
}

// A page file that passes the checks has a drawing header whose pixels lie
// wholly in the file, with a colour table only where the bit count has one.
void fuzz_bmp(Input in) {
    Bytes file = in.take(in.size);
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

// The debug options string, parsed into one configuration before and after an
// unset one: the table stays sorted and bounded, each entry found by name.
void fuzz_pxq(Input in) {
    Bytes text = in.take(in.size, 1);
    const char *given = (const char *)text.data();
    PxqConfig config{-1, PXQ_DEFAULT_FLAGS, 0, nullptr};
    for (const char *options : {given, (const char *)nullptr, given}) {
        pxq_parse(&config, options);
        CHECK(config.count >= 0 && config.count <= config.capacity);
        for (int i = 0; i < config.count; i++) {
            const char *name = config.options[i].name;
            CHECK(strnlen(name, 15) - 1 < 14 && strcmp(name, "all") != 0);
            CHECK(i == 0 || strcmp(config.options[i - 1].name, name) < 0);
            CHECK(pxq_find(&config, name) == &config.options[i]);
        }
    }
    free(config.options);
}

// A rendering is printable ASCII in its quotes, cut near its limit and then
// marked "...".
void check_quoted(const std::string &out, const char *open, size_t limit) {
    CHECK(out.starts_with(open) && (out.ends_with("\"") || out.ends_with("\"...")));
    CHECK(out.size() <= limit + 9 && std::all_of(out.begin(), out.end(), [](char c) {
              return c >= 0x20 && c <= 0x7E;
          }));
}

// Narrow from the input's bytes, wide from its byte pairs.
void fuzz_quote(Input in) {
    Bytes bytes = in.take(in.size, 1);
    std::vector<char> narrow(bytes.begin(), bytes.end());
    std::vector<char16_t> wide(bytes.size() / 2 + 1, 0);
    for (size_t i = 0; i + 2 < bytes.size(); i += 2)
        wide[i / 2] = char16_t(bytes[i] << 8 | bytes[i + 1]);
    check_quoted(render_quoted_narrow(narrow.data()), "\"", 291);
    check_quoted(render_quoted_wide(wide.data()), "L\"", 290);
}

// A drive with its root, or a UNC or device path.
bool anchored(const std::wstring &path) {
    auto separator = [&](size_t i) { return path[i] == L'\\' || path[i] == L'/'; };
    if (path.size() >= 2 && separator(0) && separator(1))
        return true;
    wchar_t letter = path.empty() ? 0 : path[0] | 0x20;
    return path.size() >= 3 && letter >= L'a' && letter <= L'z' && path[1] == L':' && separator(2);
}

// The output file name (from byte pairs) as the anchored path the driver gets
// and the folder that must exist for it; the input's bytes as a unix path
// through Wine's drive-C link.
void fuzz_paths(Input in) {
    std::wstring name;
    for (Input pairs = in; pairs.size >= 2;)
        name.push_back(wchar_t(pairs.u32(2)));
    std::wstring path = output_path_on_drive_c(name), folder = output_folder(path);
    CHECK(name.empty() ? path.empty() : anchored(path) && output_path_on_drive_c(path) == path);
    CHECK(path.size() <= name.size() + 3 &&
          (folder.empty() || (anchored(folder) && path.starts_with(folder))));
    std::string unix_path((const char *)in.data, in.size), candidate;
    size_t root = 0;
    if (drive_c_candidate(unix_path, &candidate, &root)) {
        size_t at = root - 8;
        CHECK(at > 0 && at < unix_path.size() && unix_path.compare(at, 14, "/dosdevices/c:") == 0);
        CHECK(candidate == unix_path.substr(0, at) + "/drive_c" + unix_path.substr(at + 14));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FUZZ_TARGET(Input{data, size});
    return 0;
}
