// raid-sim-fuse: serves one emulated enclosure as the file `disk` of a FUSE
// mount, so that a loop device turns it into a block device that the program
// reaches through the real kernel path.
#define FUSE_USE_VERSION 31
#include <fuse3/fuse.h>
#include <fuse3/fuse_lowlevel.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/fuse/enclosure_files.h"

namespace {

using raid::sim::fuse::EnclosureFiles;
using raid::sim::fuse::kDiskBytes;

constexpr const char* kUsage =
    "Usage: raid-sim-fuse [--scenario NAME | --scenario-file FILE] [--] MOUNTPOINT "
    "[FUSE options]\n"
    "\n"
    "Serves one emulated RAID enclosure in MOUNTPOINT:\n"
    "  disk     64 MiB, read-only. Every 512-byte sector of a read goes to the\n"
    "           controller emulator once, in order; the file is opened with\n"
    "           direct_io, so no page cache or read-ahead stands in between.\n"
    "           Turn it into a block device with\n"
    "             losetup -f --show --direct-io=on MOUNTPOINT/disk\n"
    "           and read it with O_DIRECT, one sector at a time.\n"
    "  control  write-only. Each written line is one emulator control command\n"
    "           (\"pull 2\", \"insert 2\", \"rebuild 1 45\", \"silent on\", ...);\n"
    "           \"clear\" clears the trace. A refused line fails the write with\n"
    "           EINVAL and the reason goes to standard error.\n"
    "  trace    the LBA of every read of `disk` since the last clear, one\n"
    "           0x-prefixed hex number a line. Truncating it (: > trace)\n"
    "           also clears it.\n"
    "\n"
    "Options:\n"
    "  --scenario NAME       starting state (default raid1); one of:%s\n"
    "  --scenario-file FILE  a text file of control lines applied at start; an\n"
    "                        optional first line \"scenario NAME\" picks the state,\n"
    "                        '#' starts a comment line\n"
    "  -f                    stay in the foreground\n"
    "  -d                    FUSE debug output (implies -f)\n"
    "  -o OPTION             FUSE mount options (e.g. -o allow_other)\n"
    "  -h, --help            this text\n"
    "\n"
    "Requests are served by one thread, so reads reach the emulator in the\n"
    "order the kernel sends them. SIGINT, SIGTERM and `fusermount3 -u\n"
    "MOUNTPOINT` end the program and unmount.\n";

enum class Node { None, Root, Disk, Control, Trace };

Node NodeOf(const char* path) {
    if (std::strcmp(path, "/") == 0) return Node::Root;
    if (std::strcmp(path, "/disk") == 0) return Node::Disk;
    if (std::strcmp(path, "/control") == 0) return Node::Control;
    if (std::strcmp(path, "/trace") == 0) return Node::Trace;
    return Node::None;
}

EnclosureFiles& Files() { return *static_cast<EnclosureFiles*>(fuse_get_context()->private_data); }

void* Init(fuse_conn_info* conn, fuse_config* cfg) {
    // Attributes (the trace's size) change behind the kernel's back.
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->direct_io = 1;
    cfg->kernel_cache = 0;
    conn->max_readahead = 0;
    return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    st->st_nlink = 1;
    st->st_uid = getuid();
    st->st_gid = getgid();
    switch (NodeOf(path)) {
        case Node::Root:
            st->st_mode = S_IFDIR | 0755;
            st->st_nlink = 2;
            return 0;
        case Node::Disk:
            // Writable mode so that losetup and the program may open it for
            // writing; the writes themselves are refused.
            st->st_mode = S_IFREG | 0644;
            st->st_size = static_cast<off_t>(kDiskBytes);
            st->st_blksize = 512;
            st->st_blocks = static_cast<blkcnt_t>(kDiskBytes / 512);
            return 0;
        case Node::Control:
            st->st_mode = S_IFREG | 0200;
            return 0;
        case Node::Trace:
            st->st_mode = S_IFREG | 0644;
            st->st_size = static_cast<off_t>(Files().TraceText().size());
            return 0;
        case Node::None:
            break;
    }
    return -ENOENT;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
    if (NodeOf(path) != Node::Root) return -ENOENT;
    for (const char* name : {".", "..", "disk", "control", "trace"}) {
        fill(buf, name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    }
    return 0;
}

int Open(const char* path, fuse_file_info* fi) {
    const int access = fi->flags & O_ACCMODE;
    // With atomic O_TRUNC the kernel passes the flag here instead of
    // truncating first.
    const bool truncate = (fi->flags & O_TRUNC) != 0;
    switch (NodeOf(path)) {
        case Node::Disk:
            if (truncate) return -EROFS;
            break;
        case Node::Control:
            if (access == O_RDONLY) return -EACCES;
            break;
        case Node::Trace:
            if (truncate) Files().ClearTrace();
            // A reader gets the trace as it was at open, so a trace that grows
            // between two read calls still reads as whole lines.
            if (access != O_WRONLY)
                fi->fh = reinterpret_cast<std::uint64_t>(new std::string(Files().TraceText()));
            break;
        case Node::Root:
            return -EISDIR;
        case Node::None:
            return -ENOENT;
    }
    fi->direct_io = 1;
    fi->keep_cache = 0;
    fi->nonseekable = 0;
    return 0;
}

int Release(const char* path, fuse_file_info* fi) {
    if (NodeOf(path) == Node::Trace) delete reinterpret_cast<std::string*>(fi->fh);
    fi->fh = 0;
    return 0;
}

int Read(const char* path, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
    if (offset < 0) return -EINVAL;
    switch (NodeOf(path)) {
        case Node::Disk:
            return static_cast<int>(Files().ReadDisk(static_cast<std::uint64_t>(offset),
                                                     {reinterpret_cast<std::uint8_t*>(buf), size}));
        case Node::Trace: {
            const auto* text = reinterpret_cast<const std::string*>(fi->fh);
            if (text == nullptr) return -EBADF;
            if (static_cast<std::size_t>(offset) >= text->size()) return 0;
            const std::size_t n = std::min(size, text->size() - static_cast<std::size_t>(offset));
            std::memcpy(buf, text->data() + offset, n);
            return static_cast<int>(n);
        }
        case Node::Control:
            return -EBADF;
        case Node::Root:
            return -EISDIR;
        case Node::None:
            break;
    }
    return -ENOENT;
}

int Write(const char* path, const char* buf, size_t size, off_t, fuse_file_info*) {
    switch (NodeOf(path)) {
        case Node::Control: {
            const std::string error = Files().WriteControl({buf, size});
            if (!error.empty()) {
                std::fprintf(stderr, "raid-sim-fuse: control: %s\n", error.c_str());
                return -EINVAL;
            }
            return static_cast<int>(size);
        }
        case Node::Disk:
            // The command protocol only reads; a write is a fault of the caller.
            return -EROFS;
        case Node::Trace:
            return -EINVAL;
        case Node::Root:
            return -EISDIR;
        case Node::None:
            break;
    }
    return -ENOENT;
}

int Truncate(const char* path, off_t size, fuse_file_info*) {
    switch (NodeOf(path)) {
        case Node::Trace:
            if (size != 0) return -EINVAL;
            Files().ClearTrace();
            return 0;
        case Node::Control:
            return 0;  // `echo ... > control` truncates first
        case Node::Disk:
            return -EROFS;
        case Node::Root:
            return -EISDIR;
        case Node::None:
            break;
    }
    return -ENOENT;
}

std::string ScenarioList() {
    std::string list;
    for (const std::string& name : raid::sim::ScenarioNames()) list += " " + name;
    return list;
}

// Mounts, serves until unmounted or signalled, unmounts. Returns the exit
// status: a signal (SIGINT, SIGTERM, SIGHUP) or `fusermount3 -u` is a clean end.
int Serve(std::vector<char*> fuseArgs, EnclosureFiles& files) {
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(fuseArgs.size()), fuseArgs.data());
    fuse_cmdline_opts opts{};
    if (fuse_parse_cmdline(&args, &opts) != 0) return 2;
    if (opts.show_version) {
        fuse_lowlevel_version();
        return 0;
    }
    if (opts.mountpoint == nullptr) {
        std::fprintf(stderr, kUsage, ScenarioList().c_str());
        return 2;
    }
    fuse_operations ops{};
    ops.init = Init;
    ops.getattr = GetAttr;
    ops.readdir = ReadDir;
    ops.open = Open;
    ops.release = Release;
    ops.read = Read;
    ops.write = Write;
    ops.truncate = Truncate;

    int status = 1;
    fuse* server = fuse_new(&args, &ops, sizeof ops, &files);
    if (server != nullptr) {
        if (fuse_mount(server, opts.mountpoint) == 0) {
            fuse_session* session = fuse_get_session(server);
            if (fuse_daemonize(opts.foreground) == 0 && fuse_set_signal_handlers(session) == 0) {
                // One thread on purpose (-s is implied): reads must reach the
                // emulator in the order the kernel sends them.
                const int res = fuse_loop(server);
                status = (res == 0 || res == SIGINT || res == SIGTERM || res == SIGHUP) ? 0 : 1;
                fuse_remove_signal_handlers(session);
            }
            fuse_unmount(server);
        }
        fuse_destroy(server);
    }
    free(opts.mountpoint);
    fuse_opt_free_args(&args);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string scenario;
    std::string scenarioFile;
    // Our own options come first; everything else goes to FUSE.
    std::vector<char*> fuseArgs{argv[0]};
    bool ownOptions = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (ownOptions && (arg == "-h" || arg == "--help")) {
            std::printf(kUsage, ScenarioList().c_str());
            std::printf("\nControl commands:\n  %s\n",
                        raid::sim::ControllerEmulator::ControlHelp());
            return 0;
        }
        if (ownOptions && (arg == "--scenario" || arg == "--scenario-file")) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "raid-sim-fuse: %s needs a value\n", arg.c_str());
                return 2;
            }
            (arg == "--scenario" ? scenario : scenarioFile) = argv[++i];
            continue;
        }
        if (ownOptions && arg.starts_with("--scenario=")) {
            scenario = arg.substr(11);
            continue;
        }
        if (ownOptions && arg.starts_with("--scenario-file=")) {
            scenarioFile = arg.substr(16);
            continue;
        }
        if (ownOptions && arg == "--") {
            // FUSE's own parser also ends its options at "--".
            ownOptions = false;
        }
        fuseArgs.push_back(argv[i]);
    }
    if (!scenario.empty() && !scenarioFile.empty()) {
        std::fprintf(stderr, "raid-sim-fuse: give --scenario or --scenario-file, not both\n");
        return 2;
    }

    raid::platform::SystemClock clock;
    std::string error;
    auto emulator = raid::sim::fuse::MakeEmulator(scenario, scenarioFile, &clock, error);
    if (!emulator) {
        std::fprintf(stderr, "raid-sim-fuse: %s\n", error.c_str());
        return 2;
    }
    EnclosureFiles files(std::move(emulator));
    return Serve(std::move(fuseArgs), files);
}
