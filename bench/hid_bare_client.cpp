// The least a program can do per record through hidapi: open the KT-NET controller and run
// EXCHANGES exchanges of one valid request, a blocking write of the 255-byte output report
// and a blocking read of the input report, with nothing else around them. Run under
// ktnet-emu, its cost is the emulated controller's own, which rdk's and ldk's are held against.
//
//   hid_bare_client EXCHANGES [read|store] [shared]
//       read: a PLU request to channel 1, section 1, as rdk sends it (the default)
//       store: a PLU record for channel 1, section 1, as ldk sends it
//       shared: another client of the other kind uses the device at the same time, with no
//           lock either. Each gets a copy of every answer, so an answer to the other kind of
//           request is counted and read past. The client goes on until it has EXCHANGES
//           answers of its own and at least one of the other's (or gives up after 10 s), and
//           prints "KIND: N answers to the other client's requests".
// Exits 0 when every exchange got a right answer, 1 otherwise.
#include <hidapi.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "link/controller_link.hpp"
#include "link/frame.hpp"

namespace {

using namespace ktnet;

constexpr std::uint8_t address_section_1 = 0x81;
constexpr std::uint8_t route_channel_1 = 0;
constexpr std::chrono::seconds shared_limit{10};

struct DeviceCloser {
    void operator()(hid_device* d) const { hid_close(d); }
};
using Device = std::unique_ptr<hid_device, DeviceCloser>;

struct Library {
    Library() : ok(hid_init() == 0) {}
    ~Library() { hid_exit(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool ok;
};

bool is_controller(const wchar_t* product) {
    if (!product) return false;
    const std::wstring_view p(product);
    return p.size() >= expected_product.size() &&
           std::equal(expected_product.begin(), expected_product.end(), p.begin(),
                      [](char a, wchar_t b) { return static_cast<wchar_t>(a) == b; });
}

Device open_controller() {
    hid_device_info* devices = hid_enumerate(0, 0);
    Device device;
    for (const hid_device_info* d = devices; d && !device; d = d->next) {
        if (is_controller(d->product_string)) device.reset(hid_open_path(d->path));
    }
    hid_free_enumeration(devices);
    return device;
}

Report request(bool store) {
    FrameBuffer raw{}, escaped{};
    const std::size_t length = store ? record_frame_length : short_frame_length;
    std::fill_n(raw.begin(), length, std::uint8_t{'0'});
    raw[0] = raw[1] = frame_head;
    raw[address_index] = address_section_1;
    raw[3] = 0;
    raw[command_index] = store ? command_store_plu : command_request_plu;
    raw[flag_index] = 1;
    raw[payload_index] = 1;  // PLU 1
    raw[payload_index + 1] = 0;
    raw[payload_index + 2] = 0;
    raw[length - 1] = frame_terminator;
    checksum(length, raw);
    escape(length, raw, escaped);
    Report report{};
    fill_output_report(route_channel_1, escaped, report);
    return report;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view count_text = argc > 1 ? argv[1] : "";
    const std::string_view kind = argc > 2 ? argv[2] : "read";
    const std::string_view sharing = argc > 3 ? argv[3] : "";
    unsigned long exchanges = 0;
    const auto [end, ec] =
        std::from_chars(count_text.data(), count_text.data() + count_text.size(), exchanges);
    if (ec != std::errc() || end != count_text.data() + count_text.size() ||
        (kind != "read" && kind != "store") || (argc > 3 && sharing != "shared") || argc > 4) {
        std::cerr << "usage: hid_bare_client EXCHANGES [read|store] [shared]\n";
        return 64;
    }
    const bool store = kind == "store";
    const bool shared = sharing == "shared";
    const std::uint8_t expected_answer = store ? answer_stored : answer_plu;
    const std::uint8_t others_answer = store ? answer_plu : answer_stored;

    const Library library;
    if (!library.ok) {
        std::cerr << "hid_bare_client: hidapi cannot start\n";
        return 1;
    }
    const Device device = open_controller();
    if (!device) {
        std::cerr << "hid_bare_client: no KT-NET controller\n";
        return 1;
    }
    const Report out = request(store);
    Report in{};
    unsigned long others = 0;
    const auto give_up = std::chrono::steady_clock::now() + shared_limit;
    for (unsigned long i = 0; i < exchanges || (shared && others == 0); ++i) {
        if (shared && std::chrono::steady_clock::now() > give_up) {
            std::cerr << "hid_bare_client: no answer to the other client within 10 s\n";
            return 1;
        }
        // As the programs do: the report number in byte 0 of a write; a read delivers the
        // report without it, status byte first.
        if (hid_write(device.get(), out.data(), out.size()) < 0) {
            std::cerr << "hid_bare_client: exchange " << i << " failed\n";
            return 1;
        }
        for (;;) {
            // A fresh read buffer each time, as the programs have: umockdev carries back only
            // a buffer the read changed, so answers read over their twins would cost it less.
            in.fill(0);
            const int n = hid_read(device.get(), in.data() + 1, in.size() - 1);
            if (n < 0) {
                std::cerr << "hid_bare_client: exchange " << i << " failed\n";
                return 1;
            }
            if (n == 0) continue;  // the read brought nothing: hidapi says so with 0
            const std::uint8_t code = in[2 + command_index];
            if (in[1] == 0 && in[2] == frame_head && code == expected_answer) break;
            if (shared && in[1] == 0 && in[2] == frame_head && code == others_answer) {
                ++others;
                continue;
            }
            std::cerr << "hid_bare_client: exchange " << i << " got a wrong answer\n";
            return 1;
        }
    }
    if (shared) std::cout << kind << ": " << others << " answers to the other client's requests\n";
    return 0;
}
