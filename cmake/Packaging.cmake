# The Debian package, built with `cpack` in a configured build tree. It holds what the
# installation rules install, under /usr, and takes its version from the project version.
# The runtime dependencies (libpcap0.8, libsqlite3-0, libssl3 and the C and C++ runtimes) are read from
# the binary by dpkg-shlibdeps when dpkg-dev is installed, and named explicitly otherwise.
set(TIDEWRACK_PACKAGE_CONTACT "tidewrack developers <tidewrack@localhost>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tidewrack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TIDEWRACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "traffic analyser for IPv4 on Ethernet, recording into SQLite")
set(CPACK_PACKAGE_DESCRIPTION
    "tidewrack reads packets live from a network adapter or from a pcap or pcapng trace, "
    "decodes each IPv4 packet (addresses, ports, protocol, TCP flags, ICMP type and code, "
    "service name) and can print one line per packet, copy the packets into a new trace, and "
    "record them in an SQLite database with per-protocol, flow and service tables. "
    "tidewrack-report reports the traffic of one or many such databases as text tables, one "
    "self-contained HTML page with charts, or JSON: protocols, traffic over time, endpoints, "
    "conversations, services, port scans and ICMP errors.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS sqlite3)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
find_program(TIDEWRACK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TIDEWRACK_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libpcap0.8, libsqlite3-0, libssl3, libstdc++6")
endif()

include(CPack)
