// Makes an emulated device node poll readable on demand. umockdev backs the node with a
// pseudo-terminal and answers its reads itself, so poll() sees only the terminal: one byte
// waiting in it makes every open of the node readable, reading it back makes them wait.
#pragma once

#include <memory>
#include <string>

#include "hidraw_testbed.hpp"

namespace ktnet::emu {

class PtyReadiness final : public NodeReadiness {
public:
    // master: the terminal's master side, which stays umockdev's. Null, with the reason in
    // error, when the other side cannot be opened.
    static std::unique_ptr<PtyReadiness> open(int master, std::string& error);
    ~PtyReadiness() override;
    PtyReadiness(const PtyReadiness&) = delete;
    PtyReadiness& operator=(const PtyReadiness&) = delete;

    void set(bool readable) override;

private:
    PtyReadiness(int master, int slave) : master_(master), slave_(slave) {}

    int master_;
    int slave_;  // opened raw and non-blocking, so that one byte is readable at once
    bool readable_ = false;
};

}  // namespace ktnet::emu
