#include "controller_messages.hpp"

namespace ktnet {

void print_discovery_event(std::ostream& console, const DiscoveryEvent& event) {
    switch (event.kind) {
        case DiscoveryEvent::Kind::no_hid_list:
            console << message_no_hid_list;
            break;
        case DiscoveryEvent::Kind::no_system_name:
            console << message_no_system_name;
            break;
        case DiscoveryEvent::Kind::device_not_opened:
            console << message_other_device;
            break;
        case DiscoveryEvent::Kind::controller_found:
            console << message_controller_found;
            break;
        case DiscoveryEvent::Kind::controller_held:
            break;
    }
}

}  // namespace ktnet
