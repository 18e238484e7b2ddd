// The corpus of real captures written by others (tools/corpus/fetch.sh fetches it): where the
// tests find it, and the skip of a test that needs it where it is absent.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testkit {

// The corpus directory: TIDEWRACK_CORPUS_DIR from the environment, or as the build was
// configured; empty when there is no such directory.
std::string corpusDir();
// The path of one capture of the corpus; empty when it is absent.
std::string corpusFile(const std::string& name);
// Every capture of the corpus (.pcap, .pcapng), sorted by name.
std::vector<std::string> corpusFiles();

}  // namespace testkit

// Ends the test as skipped, saying why, when there is no corpus.
#define SKIP_WITHOUT_CORPUS()                                                                      \
    if (testkit::corpusDir().empty())                                                              \
    GTEST_SKIP() << "no corpus of real captures (tools/corpus/fetch.sh fetches it; "               \
                    "TIDEWRACK_CORPUS_DIR says where it is)"
