// Core::analyse, the analysis loop: fetch each packet, show progress, copy it to the dump,
// record it in the database (and in the extended record), honour the packet budget, then report
// how long it all took.
//
// Progress is a spinner written through stdio without a flush per packet. On a terminal,
// where standard output waits for a line end that the spinner never writes, it is flushed
// at most ten times a second, by a clock read without a system call. The per-packet path
// allocates nothing.
#include <unistd.h>

#include <cstdio>

#include "run/core.h"
#include "run/duration.h"
#include "run/process_setup.h"

namespace tidewrack {

namespace {

// Flushes standard output when a tenth of a second has passed since it last did.
class ProgressFlush {
  public:
    void operator()() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        const long tenth = static_cast<long>(now.tv_sec) * 10 + now.tv_nsec / 100000000;
        if (tenth != lastTenth) {
            lastTenth = tenth;
            std::fflush(stdout);
        }
    }

  private:
    long lastTenth = -1;
};

}  // namespace

int Core::analyse() {
    PcapEngine& engine = *pcapEngine;
    const bool fullAnalysis = writer && mode.value == 1;
    unsigned spinnerCounter = 0;
    const bool spinnerOnTerminal = !verbose && isatty(STDOUT_FILENO);
    const bool spinning = !verbose && (spinnerOnTerminal || !spinnerOnTerminalOnly);
    ProgressFlush flushProgress;

    startTime = std::time(nullptr);
    while (engine.capture() == 0) {
        if (spinning) {
            // One thread writes standard output, so the unlocked forms are safe and save the
            // stream lock twice a packet.
            putchar_unlocked('\b');
            putchar_unlocked(spinner[spinnerCounter++ % 4]);
            if (spinnerOnTerminal) {
                flushProgress();
            }
        }
        noteOutputError();  // of the spinner, or of the packet line that capture printed
        if (writeDump.given) {
            engine.dumpPacket();
        }
        if (writer && engine.view.frameDecoded) {
            writer->writePacketRows(engine.view);
            if (extendedRecord) {
                extendedRecord->recordPacket(engine.view);
            }
        }
        if (count.given) {
            // Wraps instead of overflowing: a budget of 0 or less runs for about 2^32 packets.
            packetsLeft = static_cast<std::int32_t>(static_cast<std::uint32_t>(packetsLeft) - 1);
            if (packetsLeft == 0) {
                break;
            }
        }
    }
    engine.reportDrops();
    if (fullAnalysis) {
        writer->writeProtocolRows(engine.view.protocolSeen);
    }

    captureEndTime = std::time(nullptr);
    const Duration capture = splitDuration(startTime, captureEndTime);
    std::printf("\n%lld packets analysed in: %.2d:%.2d:%.2d\n\n",
                static_cast<long long>(engine.view.packetsAnalysed), capture.hours, capture.minutes,
                capture.seconds);
    // The extended record's rows after the loop, and its line of the frames not analysed.
    if (extendedRecord) {
        extendedRecord->finish(engine, filter.given ? filter.value : nullptr, mode.value);
    }
    if (fullAnalysis) {
        const int tables = writer->buildFlows(engine.view.protocolSeen);
        endTime = std::time(nullptr);
        const Duration flows = splitDuration(captureEndTime, endTime);
        std::printf("\n%d flows and service indices created in: %.2d:%.2d:%.2d\n\n", tables,
                    flows.hours, flows.minutes, flows.seconds);
    } else {
        endTime = std::time(nullptr);
    }
    const Duration total = splitDuration(startTime, endTime);
    std::printf("total traffic analysis took: %.2d:%.2d:%.2d\n", total.hours, total.minutes,
                total.seconds);
    return 0;
}

}  // namespace tidewrack
