// A port that passes everything to another port and writes a trace of it: every report written
// and read, in hex, with a timestamp, and every failure with its reason. KTNET_TRACE=FILE turns
// it on in the programs, so a problem on the bus can be seen without rebuilding anything.
//
// One line per event:
//   2026-12-09T10:15:02.123456Z write 00 14 7C 7C 01 00 4B ...   (255 bytes)
//   2026-12-09T10:15:02.131877Z read 00 00 7C 7C 01 00 CB ...    (255 bytes)
//   2026-12-09T10:15:02.131900Z # open /dev/hidraw3: Permission denied
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "hid_port.hpp"

namespace ktnet {

class TracingPort final : public HidPort {
public:
    // Both must outlive the port and everything it hands out.
    TracingPort(HidPort& inner, std::ostream& trace) : inner_(inner), trace_(trace) {}

    PortResult<std::unique_ptr<HidInterfaceList>> list_interfaces() override;

private:
    HidPort& inner_;
    std::ostream& trace_;
};

// One report of a trace, read back.
struct TracedReport {
    bool written;  // false: read
    Report report;
};

// The reports of a trace, in order; lines that are not reports are skipped.
std::vector<TracedReport> read_trace(std::istream& trace);

}  // namespace ktnet
