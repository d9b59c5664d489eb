#include "Platform/Net/NetworkPath.hpp"

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>

namespace platform::net {
namespace {

bool isUsableAddress(const sockaddr* address) {
    if (!address) return false;
    if (address->sa_family == AF_INET) return true;
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        return !IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr) && !IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
    }
    return false;
}

NetworkPath inspectInterfaces() {
    NetworkPath path;
    path.status = NetworkPath::Status::unsatisfied;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        // Without a view of the interfaces, assume the network works rather than block downloads.
        path.status = NetworkPath::Status::satisfied;
        return path;
    }
    for (ifaddrs* item = list; item; item = item->ifa_next) {
        unsigned flags = item->ifa_flags;
        if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK) && isUsableAddress(item->ifa_addr)) {
            path.status = NetworkPath::Status::satisfied;
            break;
        }
    }
    freeifaddrs(list);
    return path;
}

class SystemPathSource : public PathSource {
public:
    SystemPathSource() {
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
        if (fd >= 0) {
            sockaddr_nl address{};
            address.nl_family = AF_NETLINK;
            address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
            if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                netlink_ = fd;
            } else {
                close(fd);
            }
        }
    }

    ~SystemPathSource() override {
        if (netlink_ >= 0) close(netlink_);
        if (wake_ >= 0) close(wake_);
    }

    NetworkPath currentPath() override { return inspectInterfaces(); }

    void waitForChange(const NetworkPath&, std::stop_token stop) override {
        std::stop_callback onStop(stop, [this] {
            std::uint64_t one = 1;
            [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
        });
        if (stop.stop_requested()) return;
        // Without netlink, look again every few seconds.
        int timeout = netlink_ >= 0 ? -1 : 5000;
        std::array<pollfd, 2> fds{{{wake_, POLLIN, 0}, {netlink_, POLLIN, 0}}};
        int count = netlink_ >= 0 ? 2 : 1;
        if (poll(fds.data(), static_cast<nfds_t>(count), timeout) > 0 && netlink_ >= 0 && (fds[1].revents & POLLIN)) {
            std::array<char, 8192> buffer;
            while (recv(netlink_, buffer.data(), buffer.size(), 0) > 0) {
            }
        }
        std::uint64_t value = 0;
        [[maybe_unused]] auto n = read(wake_, &value, sizeof value);
    }

private:
    int netlink_ = -1;
    int wake_ = -1;
};

}  // namespace

std::shared_ptr<PathSource> makeSystemPathSource() {
    return std::make_shared<SystemPathSource>();
}

}  // namespace platform::net
