// What both programs print while they look for the controller.
#pragma once

#include <ostream>
#include <string_view>

#include "link/controller_link.hpp"

namespace ktnet {

inline constexpr std::string_view message_no_hid_list = "Could not attach to PnP node";
inline constexpr std::string_view message_no_system_name =
    "Could not find the system name for this Device\n";
inline constexpr std::string_view message_other_device = "wykryto urzadzenie hid inne niz kt-net\n";
inline constexpr std::string_view message_controller_found = "wykryto urzadzenie kt-net\n";
inline constexpr std::string_view message_controller_held =
    "\nsterownik kt-net jest zajety przez inny program";

// The console text of one event of the search, at the moment it happens (a held controller
// says nothing here: the program ends with its own message).
void print_discovery_event(std::ostream& console, const DiscoveryEvent& event);

}  // namespace ktnet
