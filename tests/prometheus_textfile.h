#pragma once
// A strict reader of node_exporter's textfile-collector format, for tests of
// the metrics file: nothing in Debian parses it outside Go.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace raid::test_support {

// One sample of a textfile: its metric name, labels and value.
struct Sample {
    std::string name;
    std::map<std::string, std::string> labels;
    double value = 0;
};

// A strict reader of node_exporter's textfile format: every line is a HELP,
// a TYPE or a sample; every sample's family has its HELP and TYPE first;
// label values are quoted with only \\, \" and \n escaped; no series twice.
inline std::vector<Sample> ParseTextfile(const std::string& text) {
    static const std::regex kName("[a-zA-Z_:][a-zA-Z0-9_:]*");
    static const std::regex kHelp("# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) .+");
    static const std::regex kType("# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (gauge|counter)");
    std::set<std::string> helped, typed, series;
    std::vector<Sample> samples;
    EXPECT_TRUE(text.empty() || text.back() == '\n');
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, kHelp)) {
            EXPECT_TRUE(helped.insert(m[1]).second) << "HELP twice: " << line;
            continue;
        }
        if (std::regex_match(line, m, kType)) {
            EXPECT_TRUE(helped.count(m[1])) << "TYPE before HELP: " << line;
            EXPECT_TRUE(typed.insert(m[1]).second) << "TYPE twice: " << line;
            continue;
        }
        Sample s;
        std::size_t at = 0;
        while (at < line.size() && line[at] != '{' && line[at] != ' ') ++at;
        s.name = line.substr(0, at);
        EXPECT_TRUE(std::regex_match(s.name, kName)) << line;
        EXPECT_TRUE(typed.count(s.name)) << "sample without TYPE: " << line;
        if (at < line.size() && line[at] == '{') {
            ++at;
            while (at < line.size() && line[at] != '}') {
                const auto eq = line.find("=\"", at);
                if (eq == std::string::npos) {
                    ADD_FAILURE() << "bad label in " << line;
                    return samples;
                }
                const std::string key = line.substr(at, eq - at);
                EXPECT_TRUE(std::regex_match(key, kName)) << line;
                std::string value;
                at = eq + 2;
                for (; at < line.size() && line[at] != '"'; ++at) {
                    if (line[at] == '\\') {
                        ++at;
                        if (at >= line.size() ||
                            (line[at] != '\\' && line[at] != '"' && line[at] != 'n')) {
                            ADD_FAILURE() << "bad escape in " << line;
                            return samples;
                        }
                        value += line[at] == 'n' ? '\n' : line[at];
                    } else {
                        value += line[at];
                    }
                }
                EXPECT_LT(at, line.size()) << "unterminated label in " << line;
                ++at;
                s.labels[key] = value;
                if (at < line.size() && line[at] == ',') ++at;
            }
            EXPECT_LT(at, line.size()) << line;
            ++at;
        }
        EXPECT_TRUE(at < line.size() && line[at] == ' ') << line;
        std::size_t used = 0;
        s.value = std::stod(line.substr(at + 1), &used);
        EXPECT_EQ(at + 1 + used, line.size()) << "junk after the value: " << line;
        std::string key = s.name;
        for (const auto& [k, v] : s.labels) key += "|" + k + "=" + v;
        EXPECT_TRUE(series.insert(key).second) << "series twice: " << line;
        samples.push_back(std::move(s));
    }
    return samples;
}

inline std::optional<double> Value(const std::vector<Sample>& samples, const std::string& name,
                                   const std::map<std::string, std::string>& labels) {
    for (const Sample& s : samples) {
        if (s.name != name) continue;
        bool all = true;
        for (const auto& [k, v] : labels) {
            const auto it = s.labels.find(k);
            all = all && it != s.labels.end() && it->second == v;
        }
        if (all) return s.value;
    }
    return std::nullopt;
}

}  // namespace raid::test_support
