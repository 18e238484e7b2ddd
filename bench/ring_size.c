/* The live-capacity benchmark's kernel ring: preloaded into the program (LD_PRELOAD), it gives
 * libpcap's pcap_set_buffer_size the size in TIDEWRACK_BENCH_RING_BYTES instead of the
 * program's own, or, with 0, leaves libpcap's default (2 MiB on Linux). Without the variable
 * the program's size stands. One build of the program so serves every ring the benchmark
 * compares, and the experiment stays out of the program. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pcap/pcap.h>
#include <stdlib.h>

int pcap_set_buffer_size(pcap_t* handle, int size) {
    int (*real)(pcap_t*, int) = (int (*)(pcap_t*, int))dlsym(RTLD_NEXT, "pcap_set_buffer_size");
    const char* chosen = getenv("TIDEWRACK_BENCH_RING_BYTES");
    if (chosen != NULL && *chosen != '\0') {
        size = atoi(chosen);
        if (size == 0) {
            return 0;
        }
    }
    return real(handle, size);
}
