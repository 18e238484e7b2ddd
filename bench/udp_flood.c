/* UDP sender for the live-capacity benchmark: sends small datagrams to a port on 127.0.0.1 at a
 * steady rate for a given time, in batches of one sendmmsg call per millisecond, and stops by
 * itself. It binds a socket of its own to the port and never reads it, so that the datagrams
 * are received (and then dropped when that socket's buffer is full) without any ICMP answer:
 * a capture on the loopback adapter sees only the datagrams, each twice (sent and received).
 *
 * Usage: udp_flood <port> <datagrams per second> <seconds> [payload bytes, default 18]
 * Prints "<datagrams sent> <seconds taken> <datagrams per second achieved>". */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

enum { maxBatch = 1024, maxPayload = 1400 };

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        fprintf(stderr, "usage: %s <port> <datagrams per second> <seconds> [payload bytes]\n",
                argv[0]);
        return 2;
    }
    const int port = atoi(argv[1]);
    const double rate = atof(argv[2]);
    const double seconds = atof(argv[3]);
    const int payload = argc == 5 ? atoi(argv[4]) : 18;
    if (port <= 0 || port > 65535 || rate <= 0 || seconds <= 0 || payload < 0 ||
        payload > maxPayload) {
        fprintf(stderr, "%s: bad argument\n", argv[0]);
        return 2;
    }

    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons((unsigned short)port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int sink = socket(AF_INET, SOCK_DGRAM, 0);
    const int out = socket(AF_INET, SOCK_DGRAM, 0);
    if (sink < 0 || out < 0 || bind(sink, (struct sockaddr*)&to, sizeof to) != 0 ||
        connect(out, (struct sockaddr*)&to, sizeof to) != 0) {
        perror("udp_flood: socket");
        return 1;
    }

    static char data[maxPayload];
    static struct iovec parts[maxBatch];
    static struct mmsghdr messages[maxBatch];
    for (int i = 0; i < maxBatch; ++i) {
        parts[i].iov_base = data;
        parts[i].iov_len = (size_t)payload;
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }

    /* Each millisecond, send what the rate owes up to now: the rate holds on average even when
     * a tick comes late. */
    const double start = now();
    long long sent = 0;
    for (;;) {
        const double elapsed = now() - start;
        if (elapsed >= seconds) {
            break;
        }
        long long owed = (long long)(elapsed * rate) - sent;
        while (owed > 0) {
            const int batch = owed < maxBatch ? (int)owed : maxBatch;
            const int done = sendmmsg(out, messages, (unsigned)batch, 0);
            if (done <= 0) {
                break; /* a full send queue: the rest waits for the next tick */
            }
            sent += done;
            owed -= done;
        }
        const struct timespec tick = {0, 1000000};
        nanosleep(&tick, NULL);
    }
    const double taken = now() - start;
    printf("%lld %.3f %.0f\n", sent, taken, (double)sent / taken);
    return 0;
}
