// The SetupAPI/HID.DLL port against a fake of the Windows calls it makes: the controller
// search call by call with the arguments each call gets, the overlapped transfers with their
// waits and cancels, and the reasons failures carry.
#include "link/windows_port.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "checks.hpp"
#include "link/controller_link.hpp"

namespace ktnet::wintest {
namespace {

using Log = std::vector<std::string>;

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
    DWORD open_error = 0;              // why the open for this process alone fails; 0: it opens
    bool opens_without_access = true;  // false: the open without access fails too
    const wchar_t* product = nullptr;  // null: HidD_GetProductString fails
};

// How one ReadFile or WriteFile goes.
enum class Io {
    at_once,         // done within the call
    fails_at_once,   // the call fails: the device was unplugged
    completes,       // goes on in the background and is done within the wait
    fails_later,     // goes on in the background, then the device is unplugged
    never,           // still going when the wait ends; the cancel ends it
    done_in_cancel,  // still going when the wait ends, but done before the cancel takes
    wait_fails,      // the wait itself fails
};

// The fake's state. The calls are plain function pointers, so it lives here; each case
// starts by resetting it.
struct FakeWindows {
    bool list_fails = false;
    std::vector<FakeInterface> interfaces;
    Log log;  // the calls in order, and any argument that was wrong
    std::set<HANDLE> open;
    DWORD last_error = 0;
    enum class Text { english, local_only, none } text = Text::english;
    bool flush_fails = false;
    std::deque<Io> transfers;  // how the next reads and writes go
    std::optional<Io> running;
    const OVERLAPPED* running_overlapped = nullptr;
    void* read_buffer = nullptr;
    bool cancelled = false;
    int events = 0;
    std::vector<std::uint8_t> written;
    std::vector<std::uint8_t> input;  // what a read delivers
};
FakeWindows fake;

HDEVINFO const fake_list = reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0x5000));
constexpr std::uintptr_t exclusive_handles = 0x100, probe_handles = 0x200, event_handles = 0x300;

HANDLE make_handle(std::uintptr_t base, std::size_t n) {
    HANDLE handle = reinterpret_cast<HANDLE>(base + n);
    fake.open.insert(handle);
    return handle;
}

// The fake's name of a handle: the device path, with " without access" for the probing open.
std::string name_of(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value >= event_handles) return "event";
    const std::size_t index = value % 0x100;
    if (value < exclusive_handles || index >= fake.interfaces.size()) return "?";
    return std::string(fake.interfaces[index].path) +
           (value >= probe_handles ? " without access" : "");
}

bool exclusive(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    return fake.open.count(handle) && value >= exclusive_handles && value < probe_handles;
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
    require(same_guid(class_guid) && !enumerator && !parent && flags == 0x12,
            "SetupDiGetClassDevsA");
    if (!fake.list_fails) return fake_list;
    fake.last_error = ERROR_INVALID_DATA;
    return static_cast<HDEVINFO>(INVALID_HANDLE_VALUE);
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
    if (!path) {
        fake.last_error = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::strcpy(detail->DevicePath, path);
    return TRUE;
}

WINBOOL WINAPI fake_destroy_list(HDEVINFO list) {
    fake.log.push_back("SetupDiDestroyDeviceInfoList");
    require(list == fake_list, "SetupDiDestroyDeviceInfoList");
    return TRUE;
}

// Two opens are right: for reading and writing by this process alone with overlapped I/O,
// and (to read a product string) without access, sharing everything, synchronous.
HANDLE WINAPI fake_create_file(LPCSTR path, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE template_file) {
    const bool alone =
        access == (GENERIC_READ | GENERIC_WRITE) && share == 0 && flags == FILE_FLAG_OVERLAPPED;
    const bool probe = access == 0 && share == (FILE_SHARE_READ | FILE_SHARE_WRITE) && flags == 0;
    fake.log.push_back(std::string("CreateFileA ") + path + (probe ? " without access" : ""));
    require((alone || probe) && security && security->nLength == security_attributes_size &&
                !security->lpSecurityDescriptor && !security->bInheritHandle &&
                disposition == OPEN_EXISTING && !template_file,
            "CreateFileA");
    for (std::size_t i = 0; i < fake.interfaces.size(); ++i) {
        const FakeInterface& f = fake.interfaces[i];
        if (!f.path || std::strcmp(f.path, path) != 0) continue;
        if (alone && f.open_error == 0) return make_handle(exclusive_handles, i);
        if (probe && f.opens_without_access) return make_handle(probe_handles, i);
        fake.last_error = probe ? ERROR_ACCESS_DENIED : f.open_error;
        return INVALID_HANDLE_VALUE;
    }
    fake.last_error = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
}

BOOLEAN NTAPI fake_get_product_string(HANDLE device, PVOID buffer, ULONG length) {
    fake.log.push_back("HidD_GetProductString " + name_of(device));
    require(fake.open.count(device) && buffer && length == 256, "HidD_GetProductString");
    const std::size_t index = reinterpret_cast<std::uintptr_t>(device) % 0x100;
    if (index >= fake.interfaces.size() || !fake.interfaces[index].product) return FALSE;
    std::wcscpy(static_cast<wchar_t*>(buffer), fake.interfaces[index].product);
    return TRUE;
}

BOOLEAN NTAPI fake_flush_queue(HANDLE device) {
    fake.log.push_back("HidD_FlushQueue");
    require(exclusive(device), "HidD_FlushQueue");
    if (fake.flush_fails) fake.last_error = ERROR_DEVICE_NOT_CONNECTED;
    return !fake.flush_fails;
}

HANDLE WINAPI fake_create_event(LPSECURITY_ATTRIBUTES security, WINBOOL manual_reset,
                                WINBOOL initial_state, LPCSTR name) {
    fake.log.push_back("CreateEventA");
    require(!security && manual_reset && !initial_state && !name, "CreateEventA");
    return make_handle(event_handles, fake.events++);
}

// Delivers a transfer that is done: a read gets the input, a write was recorded at its start.
void deliver() {
    if (fake.read_buffer) std::memcpy(fake.read_buffer, fake.input.data(), fake.input.size());
}

// The start of a ReadFile or WriteFile.
WINBOOL start_transfer(const char* call, HANDLE file, DWORD length, LPDWORD done,
                       LPOVERLAPPED overlapped) {
    fake.log.push_back(call);
    require(exclusive(file) && length == 255 && !done && overlapped &&
                fake.open.count(overlapped->hEvent) && overlapped->Offset == 0 &&
                overlapped->OffsetHigh == 0 && !fake.running && !fake.transfers.empty(),
            call);
    const Io io = fake.transfers.empty() ? Io::fails_at_once : fake.transfers.front();
    if (!fake.transfers.empty()) fake.transfers.pop_front();
    if (io == Io::at_once) {
        deliver();
        return TRUE;
    }
    if (io == Io::fails_at_once) {
        fake.last_error = ERROR_DEVICE_NOT_CONNECTED;
        return FALSE;
    }
    fake.running = io;
    fake.running_overlapped = overlapped;
    fake.cancelled = false;
    fake.last_error = ERROR_IO_PENDING;
    return FALSE;
}

WINBOOL WINAPI fake_write_file(HANDLE file, LPCVOID data, DWORD length, LPDWORD written,
                               LPOVERLAPPED overlapped) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    fake.written.assign(bytes, bytes + length);
    fake.read_buffer = nullptr;
    return start_transfer("WriteFile", file, length, written, overlapped);
}

WINBOOL WINAPI fake_read_file(HANDLE file, LPVOID data, DWORD length, LPDWORD read,
                              LPOVERLAPPED overlapped) {
    fake.read_buffer = data;
    return start_transfer("ReadFile", file, length, read, overlapped);
}

DWORD WINAPI fake_wait(HANDLE handle, DWORD milliseconds) {
    fake.log.push_back("WaitForSingleObject " + std::to_string(milliseconds));
    require(fake.running && handle == fake.running_overlapped->hEvent, "WaitForSingleObject");
    switch (fake.running.value_or(Io::never)) {
        case Io::completes:
        case Io::fails_later:
            return WAIT_OBJECT_0;
        case Io::wait_fails:
            fake.last_error = ERROR_INVALID_HANDLE;
            return WAIT_FAILED;
        default:
            return WAIT_TIMEOUT;
    }
}

WINBOOL WINAPI fake_cancel_io(HANDLE file) {
    fake.log.push_back("CancelIo");
    require(exclusive(file) && fake.running, "CancelIo");
    fake.cancelled = true;
    return TRUE;
}

// Must wait: a transfer the port stops looking at while it goes on would write into freed
// memory. The fake ends every transfer here.
WINBOOL WINAPI fake_get_overlapped_result(HANDLE file, LPOVERLAPPED overlapped, LPDWORD done,
                                          WINBOOL wait) {
    fake.log.push_back("GetOverlappedResult");
    require(
        exclusive(file) && fake.running && overlapped == fake.running_overlapped && done && wait,
        "GetOverlappedResult");
    const Io io = fake.running.value_or(Io::never);
    fake.running.reset();
    if (io == Io::completes || io == Io::done_in_cancel) {
        deliver();
        *done = 255;
        return TRUE;
    }
    if (io == Io::fails_later) {
        fake.last_error = ERROR_DEVICE_NOT_CONNECTED;
    } else {
        require(fake.cancelled, "GetOverlappedResult (waits forever)");
        fake.last_error = ERROR_OPERATION_ABORTED;
    }
    return FALSE;
}

WINBOOL WINAPI fake_close_handle(HANDLE handle) {
    fake.log.push_back("CloseHandle " + name_of(handle));
    require(fake.open.erase(handle) == 1 && !fake.running, "CloseHandle");
    return TRUE;
}

DWORD WINAPI fake_get_last_error() {
    return fake.last_error;
}

// "text 5 en." for English, "text 5 local." for the user's language, each with CR LF.
DWORD WINAPI fake_format_message(DWORD flags, LPCVOID source, DWORD code, DWORD language,
                                 LPSTR buffer, DWORD size, va_list* arguments) {
    require(flags == (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS) && !source &&
                buffer && size > 0 && !arguments,
            "FormatMessageA");
    const bool english = language == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    if (fake.text == FakeWindows::Text::none ||
        (english && fake.text == FakeWindows::Text::local_only)) {
        return 0;
    }
    const std::string text =
        "text " + std::to_string(code) + (english ? " en." : " local.") + "\r\n";
    std::snprintf(buffer, size, "%s", text.c_str());
    return static_cast<DWORD>(std::min<std::size_t>(text.size(), size - 1));
}

const WindowsHidCalls fake_calls = {
    fake_get_hid_guid,       fake_get_class_devs,
    fake_enum_interfaces,    fake_get_detail,
    fake_destroy_list,       fake_create_file,
    fake_get_product_string, fake_flush_queue,
    fake_create_event,       fake_write_file,
    fake_read_file,          fake_wait,
    fake_cancel_io,          fake_get_overlapped_result,
    fake_close_handle,       fake_get_last_error,
    fake_format_message,
};

std::string describe(const PortError& error) {
    const char* kinds[] = {"permission_denied", "busy", "gone", "other"};
    std::string text = kinds[static_cast<int>(error.kind)];
    return text.append(" ").append(std::to_string(error.system_code));
}

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

// A listed member with a device path, and the open for this process alone.
Log listed(unsigned index, const char* path) {
    return {"SetupDiEnumDeviceInterfaces " + std::to_string(index),
            "SetupDiGetDeviceInterfaceDetailA " + std::to_string(index),
            std::string("CreateFileA ") + path};
}
// The open succeeded, the device's event is made and its product string read.
Log opened(const char* path) {
    return {"CreateEventA", std::string("HidD_GetProductString ") + path};
}
Log closed(const char* path) {
    return {"CloseHandle event", std::string("CloseHandle ") + path};
}
// The open met a sharing violation: the device is looked at without access.
Log probed(const char* path) {
    const std::string probe = std::string(path) + " without access";
    return {"CreateFileA " + probe, "HidD_GetProductString " + probe, "CloseHandle " + probe};
}

const Log start = {"HidD_GetHidGuid", "SetupDiGetClassDevsA"};
const Log destroy = {"SetupDiDestroyDeviceInfoList"};

const char* const mouse = R"(\\?\hid#vid_046d&pid_c077#mouse)";
const char* const keypad = R"(\\?\hid#vid_05e0&pid_1200#keypad)";
const char* const controller = R"(\\?\hid#vid_0483&pid_5750#controller)";
const char* const second = R"(\\?\hid#vid_0483&pid_5750#second)";

struct SearchCase {
    const char* name;
    bool list_fails;
    std::vector<FakeInterface> interfaces;
    Discovery::Result result;
    Log events;  // kind, index and for failures the error's kind and code
    Log calls;   // through the search, then the link's end
};

// What the search does on Windows; which devices it takes is the portable link's and tested
// with it.
std::vector<SearchCase> search_cases() {
    using R = Discovery::Result;
    const FakeInterface gap{.listed = false};
    const wchar_t* const kt_net = L"KT-NET CONTROLLER";
    return {
        {"no HID list", true, {}, R::none, {"no HID list other 13"}, start},
        {"empty list: twenty tries",
         false,
         {},
         R::none,
         {},
         joined({start, unlisted(0, 20), destroy})},
        {"a device that refuses access is reported, one without a product string skipped",
         false,
         {{.path = mouse},
          {.path = keypad, .open_error = ERROR_ACCESS_DENIED, .product = kt_net},
          {.path = controller, .product = kt_net}},
         R::found,
         {"not opened 1 permission_denied 5", "found 2"},
         joined({start, listed(0, mouse), opened(mouse), closed(mouse), listed(1, keypad),
                 listed(2, controller), opened(controller), destroy, closed(controller)})},
        {"a device another program uses is looked at without access and passed over",
         false,
         {gap,
          {.path = mouse, .open_error = ERROR_SHARING_VIOLATION, .product = L"USB Mouse"},
          {.path = controller, .product = kt_net}},
         R::found,
         {"found 2"},
         joined({start, unlisted(0, 1), listed(1, mouse), probed(mouse), listed(2, controller),
                 opened(controller), destroy, closed(controller)})},
        {"a controller another run holds ends the search as held",
         false,
         {{.path = controller, .open_error = ERROR_SHARING_VIOLATION, .product = kt_net},
          {.path = second, .product = kt_net}},
         R::held,
         {"held 0 busy 32"},
         joined({start, listed(0, controller), probed(controller), destroy})},
        {"a held device that cannot be looked at either is reported",
         false,
         {{.path = controller,
           .open_error = ERROR_SHARING_VIOLATION,
           .opens_without_access = false,
           .product = kt_net}},
         R::none,
         {"not opened 0 busy 32"},
         joined({start,
                 listed(0, controller),
                 {std::string("CreateFileA ") + controller + " without access"},
                 unlisted(1, 20),
                 destroy})},
        {"no system name ends the search and leaves the list",
         false,
         {{.path = mouse, .product = L"USB Optical Mouse"}, {.path = nullptr}},
         R::none,
         {"no system name 1 other 122"},
         joined({start,
                 listed(0, mouse),
                 opened(mouse),
                 closed(mouse),
                 {"SetupDiEnumDeviceInterfaces 1", "SetupDiGetDeviceInterfaceDetailA 1"}})},
    };
}

std::string event_text(const DiscoveryEvent& e) {
    using K = DiscoveryEvent::Kind;
    const char* names[] = {"no HID list", "no system name", "not opened", "found", "held"};
    std::string text = names[static_cast<int>(e.kind)];
    if (e.kind != K::no_hid_list) text += " " + std::to_string(e.index);
    if (e.kind != K::controller_found) text += " " + describe(e.error);
    return text;
}

void search_tests(Checks& checks) {
    for (const SearchCase& c : search_cases()) {
        fake = FakeWindows{};
        fake.list_fails = c.list_fails;
        fake.interfaces = c.interfaces;
        Log events;
        {
            WindowsPort port(fake_calls);
            ControllerLink link(port, answer_timeout, [] { return false; });
            const Discovery found = link.find_controller(
                [&](const DiscoveryEvent& e) { events.push_back(event_text(e)); });
            checks.expect(found.result == c.result, "search result", c.name);
            checks.expect(fake.open.size() == (c.result == Discovery::Result::found ? 2u : 0u),
                          "only the controller and its event stay open", c.name);
        }
        checks.expect(events == c.events, "discovery events", c.name);
        checks.expect(fake.log == c.calls, "calls in order with the right arguments", c.name);
        if (fake.log != c.calls || events != c.events) {
            for (const std::string& line : events) std::printf("    event %s\n", line.c_str());
            for (const std::string& line : fake.log) std::printf("    %s\n", line.c_str());
        }
        checks.expect(fake.open.empty(), "every handle closed at the end", c.name);
    }
}

// The controller, opened for this process alone.
std::unique_ptr<HidDevice> open_controller(WindowsPort& port) {
    fake.interfaces = {{.path = controller, .product = L"KT-NET CONTROLLER"}};
    auto list = port.list_interfaces();
    if (!list || (*list)->lookup(0).kind != HidInterfaceList::Lookup::Kind::present) return {};
    auto device = (*list)->open(0);
    return device ? std::move(*device) : nullptr;
}

enum class Op { flush, write, read };

struct TransferCase {
    const char* name;
    Op op;
    Io io;
    int timeout_ms;       // for reads
    std::string outcome;  // "done", "received", "timed out", or the error's kind and code
    Log calls;
};

std::vector<TransferCase> transfer_cases() {
    const Log cancelled = {"CancelIo", "GetOverlappedResult"};
    return {
        {"queued input is flushed", Op::flush, Io::at_once, 0, "done", {"HidD_FlushQueue"}},
        {"a failed flush says why",
         Op::flush,
         Io::fails_at_once,
         0,
         "gone 1167",
         {"HidD_FlushQueue"}},
        {"a write done at once", Op::write, Io::at_once, 0, "done", {"WriteFile"}},
        {"a write done in the background is waited for",
         Op::write,
         Io::completes,
         0,
         "done",
         {"WriteFile", "WaitForSingleObject 5000", "GetOverlappedResult"}},
        {"a write never taken is cancelled and fails", Op::write, Io::never, 0, "other 1460",
         joined({{"WriteFile", "WaitForSingleObject 5000"}, cancelled})},
        {"a write to an unplugged device",
         Op::write,
         Io::fails_at_once,
         0,
         "gone 1167",
         {"WriteFile"}},
        {"a report already queued", Op::read, Io::at_once, 100, "received", {"ReadFile"}},
        {"a report that comes within the wait",
         Op::read,
         Io::completes,
         100,
         "received",
         {"ReadFile", "WaitForSingleObject 100", "GetOverlappedResult"}},
        {"no report within the wait", Op::read, Io::never, 100, "timed out",
         joined({{"ReadFile", "WaitForSingleObject 100"}, cancelled})},
        {"a wait of 0 only looks", Op::read, Io::never, 0, "timed out",
         joined({{"ReadFile", "WaitForSingleObject 0"}, cancelled})},
        {"a report that comes during the cancel is taken", Op::read, Io::done_in_cancel, 100,
         "received", joined({{"ReadFile", "WaitForSingleObject 100"}, cancelled})},
        {"unplugged during the wait",
         Op::read,
         Io::fails_later,
         100,
         "gone 1167",
         {"ReadFile", "WaitForSingleObject 100", "GetOverlappedResult"}},
        {"unplugged before the read", Op::read, Io::fails_at_once, 100, "gone 1167", {"ReadFile"}},
        {"a failed wait still ends the read before it says why", Op::read, Io::wait_fails, 100,
         "other 6", joined({{"ReadFile", "WaitForSingleObject 100"}, cancelled})},
    };
}

void transfer_tests(Checks& checks) {
    for (const TransferCase& c : transfer_cases()) {
        fake = FakeWindows{};
        fake.input.assign(255, 0x41);
        fake.input[0] = 0;  // the report number comes first on Windows
        fake.input[1] = 0x07;
        WindowsPort port(fake_calls);
        auto device = open_controller(port);
        if (!device) return checks.expect(false, "the controller opens", c.name);
        fake.log.clear();
        fake.transfers = {c.io};
        fake.flush_fails = c.io == Io::fails_at_once;

        Report report;
        report.fill(0x55);
        std::string outcome;
        if (c.op == Op::read) {
            const auto read = device->read_report(report, std::chrono::milliseconds(c.timeout_ms));
            outcome = !read                            ? describe(read.error())
                      : *read == ReadOutcome::received ? "received"
                                                       : "timed out";
        } else {
            const auto status =
                c.op == Op::flush ? device->discard_pending() : device->write_report(report);
            outcome = status ? "done" : describe(status.error());
        }
        checks.expect(outcome == c.outcome, "outcome", c.name);
        checks.expect(fake.log == c.calls, "calls in order with the right arguments", c.name);
        if (fake.log != c.calls) {
            for (const std::string& line : fake.log) std::printf("    %s\n", line.c_str());
        }
        checks.expect(!fake.running, "no transfer left running", c.name);
        if (c.op == Op::read) {
            const bool filled = std::equal(report.begin(), report.end(), fake.input.begin());
            checks.expect(filled == (outcome == "received"),
                          "the report is filled when one was received, else untouched", c.name);
        }
        if (c.op == Op::write) {
            checks.expect(fake.written == std::vector<std::uint8_t>(report.begin(), report.end()),
                          "all 255 bytes handed over", c.name);
        }
    }
}

// The link over this port: the queue is flushed before the request, and an input report,
// which Windows delivers with its report number first, gives status and answer.
void exchange_tests(Checks& checks) {
    fake = FakeWindows{};
    fake.interfaces = {{.path = controller, .product = L"KT-NET CONTROLLER"}};
    fake.input.assign(255, 0x41);
    fake.input[0] = 0;
    fake.input[1] = 0x07;  // status
    fake.input[2] = 0x7C;  // first byte of the answering frame
    fake.input[254] = 0x42;

    WindowsPort port(fake_calls);
    ControllerLink link(port, answer_timeout, [] { return false; });
    checks.expect(
        link.find_controller([](const DiscoveryEvent&) {}).result == Discovery::Result::found,
        "controller found for the exchange");

    FrameBuffer escaped{}, answer{};
    fake.log.clear();
    fake.transfers = {Io::completes, Io::completes};
    const Exchange done = link.exchange(route_opening, escaped, answer);
    checks.expect(done.kind == Exchange::Kind::answered && done.status == 0x07,
                  "the status byte of the input report");
    checks.expect(fake.log == Log{"HidD_FlushQueue", "WriteFile", "WaitForSingleObject 5000",
                                  "GetOverlappedResult", "ReadFile", "WaitForSingleObject 100",
                                  "GetOverlappedResult"},
                  "the queue flushed, the request sent, then its answer read");
    checks.expect(answer[0] == 0x7C && answer[1] == 0x41 && answer[252] == 0x42 && answer[253] == 0,
                  "input bytes 2..254 land at answer 0..252");
}

struct ErrorCase {
    DWORD code;
    FakeWindows::Text text;
    PortError::Kind kind;
    const char* message;
};

void error_tests(Checks& checks) {
    using T = FakeWindows::Text;
    using K = PortError::Kind;
    const ErrorCase cases[] = {
        {ERROR_FILE_NOT_FOUND, T::english, K::gone, "text 2 en."},
        {ERROR_GEN_FAILURE, T::local_only, K::other, "text 31 local."},
        {ERROR_TIMEOUT, T::none, K::other, "Windows error 1460"},
    };
    for (const ErrorCase& c : cases) {
        fake = FakeWindows{};
        fake.text = c.text;
        const PortError e = windows_error(fake_calls, c.code);
        checks.expect(
            e.kind == c.kind && e.system_code == static_cast<int>(c.code) && e.message == c.message,
            "kind, code and the system's text", c.message);
    }
}

// The real system: the device-setup services give a list whatever devices the machine has,
// and have words for an error.
void system_tests(Checks& checks) {
    WindowsPort port;
    checks.expect(port.list_interfaces().ok(), "the system gives a HID interface list");
    const PortError denied = windows_error(system_windows_hid(), ERROR_ACCESS_DENIED);
    checks.expect(!denied.message.empty() && denied.message.back() != '\n' &&
                      denied.message.rfind("Windows error", 0) != 0,
                  "the system's text for an error, without its line break");
}

}  // namespace

void windows_port_tests(Checks& checks) {
    search_tests(checks);
    transfer_tests(checks);
    exchange_tests(checks);
    error_tests(checks);
    system_tests(checks);
}

}  // namespace ktnet::wintest
