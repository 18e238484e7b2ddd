// What the live tests need of the machine's adapters, and the traffic they send themselves on
// the loopback adapter.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace testkit {

// A filter that no packet on any adapter matches: a live run with it ends by the read time-out.
inline const std::string silentFilter = "udp port 9 and udp port 7";

// True when live capture on the loopback adapter is permitted (root or CAP_NET_RAW).
bool loopbackCaptureAllowed();

// The name the program shows for the first adapter: its description, or its name without one.
std::string firstAdapterShownName();

// 127.0.0.1:port.
sockaddr_in loopbackAddress(int port);

// Sends `count` datagrams to 127.0.0.1:port from one socket, `gap` apart (back to back when
// zero), or until `stop` is set; returns how many the kernel accepted.
int sendDatagrams(int port, int count, std::chrono::microseconds gap,
                  const std::atomic<bool>& stop);

// Sends a datagram to 127.0.0.1:port every `gap` while it lives, from a thread of its own.
class UdpSender {
  public:
    explicit UdpSender(int port, std::chrono::milliseconds gap = std::chrono::milliseconds(20));
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;
    // Stops sending; returns how many datagrams were sent.
    int stop();

  private:
    std::atomic<bool> stopping{false};
    int sent = 0;
    std::thread worker;
};

}  // namespace testkit
