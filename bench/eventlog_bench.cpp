// Cost of keeping the day's event log file up to date: a whole rewrite of a
// large log, and the common case of one new line appended to it.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "eventlog/log_file.h"

namespace {

namespace fs = std::filesystem;
using raid::eventlog::LogFileWriter;

constexpr int kLines = 100000;

std::vector<std::string> MakeLog(int count) {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        lines.push_back("D1 HDD2 --> HDD1 " + std::to_string(i % 100) +
                        "%, 15/03/2024 12:00:00 (line " + std::to_string(i) + ")");
    }
    return lines;
}

class TempFolder {
public:
    TempFolder() {
        const char* base = std::getenv("BENCH_TMPDIR");
        std::string tmpl = std::string(base ? base : "/tmp") + "/eventlog_bench.XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void BM_FullRewrite100k(benchmark::State& state) {
    TempFolder dir;
    const auto lines = MakeLog(kLines);
    const fs::path path = dir.path() / "240315.log";
    LogFileWriter writer;
    std::string error;
    for (auto _ : state) {
        writer.Forget();
        if (!writer.Save(path, lines, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    if (!fs::exists(path)) return;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(path)));
}
BENCHMARK(BM_FullRewrite100k)->Unit(benchmark::kMillisecond);

void BM_AppendOneLineTo100k(benchmark::State& state) {
    TempFolder dir;
    auto lines = MakeLog(kLines);
    const fs::path path = dir.path() / "240315.log";
    LogFileWriter writer;
    std::string error;
    if (!writer.Save(path, lines, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        lines.push_back("D1 HDD2 was removed, 0415/03/2024 12:00:05 #" + std::to_string(n++));
        state.ResumeTiming();
        if (!writer.Save(path, lines, error) ||
            writer.lastSaveKind() != LogFileWriter::SaveKind::Appended) {
            state.SkipWithError(error.empty() ? "the save did not append" : error.c_str());
            break;
        }
    }
}
BENCHMARK(BM_AppendOneLineTo100k)->Unit(benchmark::kMicrosecond);

}  // namespace
