#include "cli/raidctl_jobs.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/raidctl_output.h"
#include "client/bus_names.h"

namespace raid::cli {
namespace {

constexpr std::uint32_t kWaitSliceMs = 500;

std::string StateText(const client::JobRecord& job) {
    if (job.finished)
        return "ended " + std::to_string(job.outcome) +
               (job.notes.empty() ? std::string() : ": " + OneLine(job.notes.front()));
    const std::uint32_t percent =
        job.total == 0 ? 0 : std::min<std::uint32_t>(100, job.progress * 100 / job.total);
    return "running " + std::to_string(percent) + "% (" + std::to_string(job.progress) + "/" +
           std::to_string(job.total) + ")";
}

}  // namespace

int RunJobs(Context& ctx, const Arguments& args, client::BusAccess* access) {
    if (access == nullptr) {
        ctx.err << "raidctl: jobs: the service " << client::bus::kServiceName
                << " does not run; jobs exist only there\n";
        return client::kUnavailable;
    }
    std::vector<client::JobRecord> jobs;
    bool running = false;
    for (;;) {
        client::JobsAnswer answer = access->Jobs();
        if (answer.outcome != client::kDone) {
            for (const auto& note : answer.notes) ctx.err << "raidctl: " << OneLine(note) << "\n";
            return answer.outcome;
        }
        jobs = std::move(answer.jobs);
        running =
            std::any_of(jobs.begin(), jobs.end(), [](const auto& job) { return !job.finished; });
        if (!args.wait || !running) break;
        ctx.clock.SleepMs(kWaitSliceMs);
    }
    if (args.json) {
        Json list = Json::array();
        for (const auto& job : jobs)
            list.push_back({{"job", job.path},
                            {"device", "Device" + std::to_string(job.index + 1)},
                            {"finished", job.finished},
                            {"outcome", job.finished ? Json(job.outcome) : Json(nullptr)},
                            {"notes", job.notes},
                            {"progress", job.progress},
                            {"total", job.total}});
        PrintJsonLine({{"jobs", std::move(list)}}, ctx.out);
    } else {
        if (jobs.empty()) ctx.out << "no firmware jobs\n";
        for (const auto& job : jobs)
            ctx.out << job.path.substr(job.path.rfind('/') + 1) << "  Device" << job.index + 1
                    << "  " << StateText(job) << "\n";
    }
    return args.checkRunning && running ? kExitBusy : kExitOk;
}

}  // namespace raid::cli
