// Running tshark over a trace and splitting its field output.
#include "tshark.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace testkit {

bool tsharkInstalled() {
    return std::system("tshark -v >/dev/null 2>&1") == 0;
}

std::string tsharkOutput(const std::string& arguments, const std::string& zone) {
    std::string out;
    const std::string command = "TZ='" + zone + "' tshark " + arguments + " 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    pclose(pipe);
    return out;
}

std::vector<std::vector<std::string>> tsharkFields(const std::string& trace,
                                                   const std::vector<std::string>& fields,
                                                   const std::string& zone,
                                                   const std::string& options) {
    std::string arguments = "-r '" + trace + "' " + options + " -T fields -E separator=/t";
    for (const std::string& field : fields) {
        arguments += " -e " + field;
    }
    const std::string out = tsharkOutput(arguments, zone);
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> row;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos;
             start = tab + 1) {
            row.push_back(line.substr(start, tab - start));
        }
        row.push_back(line.substr(start));
        row.resize(fields.size());
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace testkit
