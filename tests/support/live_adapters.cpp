// Capture permission, the first adapter's shown name, and UDP senders on the loopback adapter.
#include "live_adapters.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>

namespace testkit {

bool loopbackCaptureAllowed() {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_open_live("lo", 96, 0, 100, error);
    if (handle != nullptr) {
        pcap_close(handle);
    }
    return handle != nullptr;
}

std::string firstAdapterShownName() {
    pcap_if_t* devices = nullptr;
    char error[PCAP_ERRBUF_SIZE];
    std::string name;
    if (pcap_findalldevs(&devices, error) == 0 && devices != nullptr) {
        name = devices->description ? devices->description : devices->name;
    }
    pcap_freealldevs(devices);
    return name;
}

sockaddr_in loopbackAddress(int port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

int sendDatagrams(int port, int count, std::chrono::microseconds gap,
                  const std::atomic<bool>& stop) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = loopbackAddress(port);
    int sent = 0;
    for (int i = 0; i < count && !stop; ++i) {
        sent += sendto(fd, &i, sizeof i, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0;
        if (gap.count() > 0) {
            std::this_thread::sleep_for(gap);
        }
    }
    close(fd);
    return sent;
}

UdpSender::UdpSender(int port, std::chrono::milliseconds gap)
    : worker([this, port, gap] { sent = sendDatagrams(port, INT_MAX, gap, stopping); }) {}

UdpSender::~UdpSender() {
    stop();
}

int UdpSender::stop() {
    stopping = true;
    if (worker.joinable()) {
        worker.join();
    }
    return sent;
}

}  // namespace testkit
