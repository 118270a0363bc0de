// The SetupAPI/HID.DLL port against a fake of the Windows calls it makes: the controller
// search call by call with the arguments each call gets, and the report transfer.
#include "link/windows_port.hpp"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "checks.hpp"
#include "link/controller_link.hpp"

namespace ktnet::wintest {
namespace {

// What the system structures measure on the target, written out rather than taken from
// sizeof, so that a change of packing or a fixed 32-bit size is caught.
constexpr bool wide = sizeof(void*) == 8;
constexpr DWORD interface_data_size = wide ? 32 : 28;
constexpr DWORD detail_data_size = wide ? 8 : 5;
constexpr DWORD security_attributes_size = wide ? 24 : 12;

constexpr GUID hid_class = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// One member of the fake interface list, by index.
struct FakeInterface {
    bool listed = true;                // false: SetupDiEnumDeviceInterfaces fails at this index
    const char* path = nullptr;        // null: SetupDiGetDeviceInterfaceDetailA fails
    bool opens = true;                 // false: CreateFileA fails
    const wchar_t* product = nullptr;  // null: HidD_GetProductString fails
};

// The fake's state. The calls are plain function pointers, so it lives here; each case
// starts by resetting it.
struct FakeWindows {
    bool list_fails = false;
    std::vector<FakeInterface> interfaces;
    std::vector<std::string> log;  // the calls in order, and any argument that was wrong
    int open_handles = 0;
    BOOL write_result = TRUE;
    BOOL read_result = TRUE;
    std::vector<std::uint8_t> written;
    std::vector<std::uint8_t> input;  // what a read delivers
};
FakeWindows fake;

HDEVINFO const fake_list = reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0x5000));

HANDLE handle_of(std::size_t index) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x100 + index));
}

// The interface a fake handle stands for, or nothing for a handle the fake never gave.
std::optional<std::size_t> index_of(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value < 0x100 || value >= 0x100 + fake.interfaces.size()) return std::nullopt;
    return value - 0x100;
}

std::string path_of(HANDLE handle) {
    const auto index = index_of(handle);
    return index ? fake.interfaces[*index].path : "?";
}

void require(bool ok, const char* call) {
    if (!ok) fake.log.push_back(std::string("wrong arguments to ") + call);
}

bool same_guid(const GUID* g) {
    return g && std::memcmp(g, &hid_class, sizeof(GUID)) == 0;
}

void WINAPI fake_get_hid_guid(LPGUID guid) {
    fake.log.push_back("HidD_GetHidGuid");
    *guid = hid_class;
}

HDEVINFO WINAPI fake_get_class_devs(const GUID* class_guid, PCSTR enumerator, HWND parent,
                                    DWORD flags) {
    fake.log.push_back("SetupDiGetClassDevsA");
    require(same_guid(class_guid) && !enumerator && !parent && flags == 0x12 &&
                flags == (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
            "SetupDiGetClassDevsA");
    return fake.list_fails ? static_cast<HDEVINFO>(INVALID_HANDLE_VALUE) : fake_list;
}

WINBOOL WINAPI fake_enum_interfaces(HDEVINFO list, PSP_DEVINFO_DATA device, const GUID* class_guid,
                                    DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    fake.log.push_back("SetupDiEnumDeviceInterfaces " + std::to_string(index));
    require(list == fake_list && !device && same_guid(class_guid) && data &&
                data->cbSize == interface_data_size,
            "SetupDiEnumDeviceInterfaces");
    if (index >= fake.interfaces.size() || !fake.interfaces[index].listed) return FALSE;
    data->Reserved = index;  // tells the detail call which member it is given
    return TRUE;
}

WINBOOL WINAPI fake_get_detail(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA data,
                               PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                               PDWORD required, PSP_DEVINFO_DATA device) {
    const std::size_t index = data ? data->Reserved : 0;
    fake.log.push_back("SetupDiGetDeviceInterfaceDetailA " + std::to_string(index));
    require(list == fake_list && data && data->cbSize == interface_data_size && detail &&
                detail->cbSize == detail_data_size && size == 256 && !required && !device,
            "SetupDiGetDeviceInterfaceDetailA");
    const char* path = index < fake.interfaces.size() ? fake.interfaces[index].path : nullptr;
    if (!path) return FALSE;
    std::strcpy(detail->DevicePath, path);
    return TRUE;
}

WINBOOL WINAPI fake_destroy_list(HDEVINFO list) {
    fake.log.push_back("SetupDiDestroyDeviceInfoList");
    require(list == fake_list, "SetupDiDestroyDeviceInfoList");
    return TRUE;
}

HANDLE WINAPI fake_create_file(LPCSTR path, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE template_file) {
    fake.log.push_back(std::string("CreateFileA ") + path);
    require(access == (GENERIC_READ | GENERIC_WRITE) &&
                share == (FILE_SHARE_READ | FILE_SHARE_WRITE) && security &&
                security->nLength == security_attributes_size && !security->lpSecurityDescriptor &&
                !security->bInheritHandle && disposition == OPEN_EXISTING && flags == 0 &&
                !template_file,
            "CreateFileA");
    for (std::size_t i = 0; i < fake.interfaces.size(); ++i) {
        const FakeInterface& f = fake.interfaces[i];
        if (f.path && std::strcmp(f.path, path) == 0) {
            if (!f.opens) return INVALID_HANDLE_VALUE;
            ++fake.open_handles;
            return handle_of(i);
        }
    }
    return INVALID_HANDLE_VALUE;
}

BOOLEAN NTAPI fake_get_product_string(HANDLE device, PVOID buffer, ULONG length) {
    fake.log.push_back("HidD_GetProductString " + path_of(device));
    require(index_of(device) && buffer && length == 256, "HidD_GetProductString");
    const auto index = index_of(device);
    if (!index || !fake.interfaces[*index].product) return FALSE;
    std::wcscpy(static_cast<wchar_t*>(buffer), fake.interfaces[*index].product);
    return TRUE;
}

WINBOOL WINAPI fake_write_file(HANDLE file, LPCVOID data, DWORD length, LPDWORD written,
                               LPOVERLAPPED overlapped) {
    fake.log.push_back("WriteFile " + path_of(file));
    require(index_of(file) && length == 255 && written && !overlapped, "WriteFile");
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    fake.written.assign(bytes, bytes + length);
    if (written) *written = fake.write_result ? length : 0;
    return fake.write_result;
}

WINBOOL WINAPI fake_read_file(HANDLE file, LPVOID data, DWORD length, LPDWORD read,
                              LPOVERLAPPED overlapped) {
    fake.log.push_back("ReadFile " + path_of(file));
    require(index_of(file) && length == 255 && read && !overlapped, "ReadFile");
    if (!fake.read_result) return FALSE;
    std::memcpy(data, fake.input.data(), std::min<std::size_t>(length, fake.input.size()));
    if (read) *read = length;
    return TRUE;
}

WINBOOL WINAPI fake_close_handle(HANDLE handle) {
    fake.log.push_back("CloseHandle " + path_of(handle));
    require(index_of(handle).has_value(), "CloseHandle");
    --fake.open_handles;
    return TRUE;
}

const WindowsHidCalls fake_calls = {
    fake_get_hid_guid, fake_get_class_devs, fake_enum_interfaces,    fake_get_detail,
    fake_destroy_list, fake_create_file,    fake_get_product_string, fake_write_file,
    fake_read_file,    fake_close_handle,
};

using Log = std::vector<std::string>;

Log joined(std::initializer_list<Log> parts) {
    Log all;
    for (const Log& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Enumeration attempts that find nothing, for indexes from..to-1.
Log unlisted(unsigned from, unsigned to) {
    Log log;
    for (unsigned i = from; i < to; ++i)
        log.push_back("SetupDiEnumDeviceInterfaces " + std::to_string(i));
    return log;
}

// The calls for a listed member with a device path, up to its open.
Log listed(unsigned index, const char* path) {
    return {"SetupDiEnumDeviceInterfaces " + std::to_string(index),
            "SetupDiGetDeviceInterfaceDetailA " + std::to_string(index),
            std::string("CreateFileA ") + path};
}

const Log start = {"HidD_GetHidGuid", "SetupDiGetClassDevsA"};
const Log destroy = {"SetupDiDestroyDeviceInfoList"};

Log product(const char* path) {
    return {std::string("HidD_GetProductString ") + path};
}
Log close(const char* path) {
    return {std::string("CloseHandle ") + path};
}

const char* const mouse =
    "\\\\?\\hid#vid_046d&pid_c077#7&1&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char* const keypad =
    "\\\\?\\hid#vid_05e0&pid_1200#7&2&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char* const controller =
    "\\\\?\\hid#vid_0483&pid_5750#7&3&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char* const second =
    "\\\\?\\hid#vid_0483&pid_5750#7&4&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

struct SearchCase {
    const char* name;
    bool list_fails;
    std::vector<FakeInterface> interfaces;
    bool found;
    std::string messages;
    Log calls;  // through the search, then the link's end
};

std::vector<SearchCase> search_cases() {
    const FakeInterface gap{.listed = false};
    std::vector<FakeInterface> twenty_gaps(20, gap);
    twenty_gaps.push_back({.path = controller, .product = L"KT-NET CONTROLLER"});
    return {
        {"no HID list", true, {}, false, "Could not attach to PnP node", start},
        {"empty list: twenty tries",
         false,
         {},
         false,
         "",
         joined({start, unlisted(0, 20), destroy})},
        {"controller after a mouse and a device that will not open",
         false,
         {{.path = mouse, .product = L"USB Optical Mouse"},
          {.path = keypad, .opens = false, .product = L"KT-NET CONTROLLER"},
          {.path = controller, .product = L"KT-NET CONTROLLER"}},
         true,
         "wykryto urzadzenie hid inne niz kt-net\nwykryto urzadzenie kt-net\n",
         joined({start, listed(0, mouse), product(mouse), close(mouse), listed(1, keypad),
                 listed(2, controller), product(controller), destroy, close(controller)})},
        {"no system name ends the search and leaves the list",
         false,
         {{.path = mouse, .product = L"USB Optical Mouse"},
          {.path = nullptr},
          {.path = controller, .product = L"KT-NET CONTROLLER"}},
         false,
         "Could not find the system name for this Device\n",
         joined({start,
                 listed(0, mouse),
                 product(mouse),
                 close(mouse),
                 {"SetupDiEnumDeviceInterfaces 1", "SetupDiGetDeviceInterfaceDetailA 1"}})},
        {"unreadable and short product strings are skipped silently; a longer one matches",
         false,
         {{.path = mouse, .product = nullptr},
          {.path = keypad, .product = L"KT-NET CONTROL"},
          {.path = controller, .product = L"KT-NET CONTROLLER 2"}},
         true,
         "wykryto urzadzenie kt-net\n",
         joined({start, listed(0, mouse), product(mouse), close(mouse), listed(1, keypad),
                 product(keypad), close(keypad), listed(2, controller), product(controller),
                 destroy, close(controller)})},
        {"only the low bytes of the product string count",
         false,
         {{.path = controller, .product = L"\u014BT-NET \u0143ONTROLLER"}},
         true,
         "wykryto urzadzenie kt-net\n",
         joined({start, listed(0, controller), product(controller), destroy, close(controller)})},
        {"gaps in the list are passed over",
         false,
         {gap, gap, {.path = controller, .product = L"KT-NET CONTROLLER"}},
         true,
         "wykryto urzadzenie kt-net\n",
         joined({start, unlisted(0, 2), listed(2, controller), product(controller), destroy,
                 close(controller)})},
        {"a controller at index 20 is never reached", false, twenty_gaps, false, "",
         joined({start, unlisted(0, 20), destroy})},
        {"of two controllers the first is taken",
         false,
         {{.path = controller, .product = L"KT-NET CONTROLLER"},
          {.path = second, .product = L"KT-NET CONTROLLER"}},
         true,
         "wykryto urzadzenie kt-net\n",
         joined({start, listed(0, controller), product(controller), destroy, close(controller)})},
    };
}

void search_tests(Checks& checks) {
    for (const SearchCase& c : search_cases()) {
        fake = FakeWindows{};
        fake.list_fails = c.list_fails;
        fake.interfaces = c.interfaces;
        std::ostringstream console;
        {
            WindowsPort port(fake_calls);
            ControllerLink link(port, console);
            checks.expect(link.find_controller() == c.found, "controller found or not", c.name);
            checks.expect(fake.open_handles == (c.found ? 1 : 0), "mismatches are closed", c.name);
        }
        checks.expect(console.str() == c.messages, "console messages", c.name);
        checks.expect(fake.log == c.calls, "calls in order with the right arguments", c.name);
        if (fake.log != c.calls) {
            for (const std::string& line : fake.log) std::printf("    %s\n", line.c_str());
        }
        checks.expect(fake.open_handles == 0, "every handle closed at the end", c.name);
    }
}

// The report as it leaves and arrives: 255 bytes both ways, report number first.
void exchange_tests(Checks& checks) {
    fake = FakeWindows{};
    fake.interfaces = {{.path = controller, .product = L"KT-NET CONTROLLER"}};
    fake.input.assign(255, 0x41);
    fake.input[0] = 0;
    fake.input[1] = 0x07;  // status
    fake.input[2] = 0x7C;  // first byte of the answering frame
    fake.input[254] = 0x42;

    std::ostringstream console;
    WindowsPort port(fake_calls);
    ControllerLink link(port, console);
    checks.expect(link.find_controller(), "controller found for the exchange");

    FrameBuffer raw{}, escaped{}, answer{};
    build_opening_frame(raw);
    checksum(short_frame_length, raw);
    escape(short_frame_length, raw, escaped);
    escaped[252] = 0x99;  // the last escaped byte that fits the report
    escaped[253] = 0x98;  // one past it

    const auto status = link.exchange(route_opening, escaped, answer);
    checks.expect(status == std::optional<std::uint8_t>(0x07), "status byte of the input report");
    std::vector<std::uint8_t> expected_out(255, 0);
    expected_out[1] = route_opening;
    std::copy_n(escaped.begin(), 253, expected_out.begin() + 2);
    checks.expect(fake.written == expected_out, "255-byte output report, route byte at 1");
    checks.expect(answer[0] == 0x7C && answer[1] == 0x41 && answer[252] == 0x42 && answer[253] == 0,
                  "input bytes 2..254 land at answer 0..252");

    fake.log.clear();
    fake.read_result = FALSE;
    answer.fill(0x55);
    checks.expect(!link.exchange(0, escaped, answer).has_value(),
                  "a failed read fails the exchange");
    checks.expect(answer[0] == 0x55, "a failed read leaves the answer untouched");
    checks.expect(fake.log == Log{std::string("WriteFile ") + controller,
                                  std::string("ReadFile ") + controller},
                  "a read follows the write");

    fake.log.clear();
    fake.write_result = FALSE;
    checks.expect(!link.exchange(0, escaped, answer).has_value(),
                  "a failed write fails the exchange");
    checks.expect(fake.log == Log{std::string("WriteFile ") + controller},
                  "no read after a failed write");
}

// The real device-setup services give a list, whatever devices the machine has.
void system_tests(Checks& checks) {
    WindowsPort port;
    auto list = port.list_interfaces();
    checks.expect(list != nullptr, "the system gives a HID interface list");
}

}  // namespace

void windows_port_tests(Checks& checks) {
    search_tests(checks);
    exchange_tests(checks);
    system_tests(checks);
}

}  // namespace ktnet::wintest
