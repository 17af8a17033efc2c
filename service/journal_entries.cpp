#include "service/journal_entries.h"

#include <syslog.h>

#include <string_view>

#include "eventlog/event_lines.h"

namespace raid::service {
namespace {

using eventlog::LineKind;

struct KindText {
    LineKind kind;
    int priority;
    const char* event;      // EVENT=
    const char* messageId;  // MESSAGE_ID=, one per kind, never reused
};

// A lost or failed member leaves the array without its copy: err. An
// enclosure unplugged is mostly meant: warning. Rebuilds: notice.
constexpr KindText kKinds[] = {
    {LineKind::Started, LOG_INFO, "started", "37936c4d4bd34f189c842c6693ef3f61"},
    {LineKind::EnclosureFound, LOG_INFO, "enclosure-found", "99163b0bc5a148cd923c1e264145f4ba"},
    {LineKind::EnclosureRemoved, LOG_WARNING, "enclosure-removed",
     "38f3c21e4aef469486bd1be970a6bbcc"},
    {LineKind::MemberRemoved, LOG_ERR, "member-removed", "209df6b379084e9b85223235a42328b5"},
    {LineKind::MemberInserted, LOG_INFO, "member-inserted", "038158ccca904a27bfad1d9ffc0f7a11"},
    {LineKind::MemberInitialized, LOG_NOTICE, "member-initialized",
     "b4e399ac98eb4a6fbc6a38355800c3f6"},
    {LineKind::MemberFailed, LOG_ERR, "member-failed", "a687717edfe747139c00b3b8e348fb75"},
    {LineKind::RebuildProgress, LOG_NOTICE, "rebuild-progress", "3d0f9a626a0b4ff29fa8916afe0f779b"},
    {LineKind::RebuildDone, LOG_NOTICE, "rebuild-done", "d1c86551d22d4df6aecd98c6ca7754aa"},
    {LineKind::RebuildEnded, LOG_NOTICE, "rebuild-ended", "fa4e6166390e479fa0f8af8ae5949847"},
};

const char* const kMemberNames[] = {"HDD1", "HDD2"};

}  // namespace

void EventJournal::Line(const std::string& line) {
    const eventlog::LineEvent event = eventlog::ClassifyLine(line);
    if (event.kind == LineKind::Separator) return;
    if (event.kind == LineKind::Detail) {
        // Details before any event (never written so) stand alone.
        if (!open_)
            open_ = JournalEntry{LOG_INFO, line, {}};
        else
            detail_ += (detail_.empty() ? "" : "\n") + line;
        return;
    }
    Close();
    JournalEntry entry{LOG_INFO, line, {}};
    for (const KindText& k : kKinds) {
        if (k.kind != event.kind) continue;
        entry.priority = k.priority;
        entry.fields.push_back({"MESSAGE_ID", k.messageId});
        entry.fields.push_back({"EVENT", k.event});
    }
    if (event.device >= 0) {
        entry.fields.push_back({"ENCLOSURE", "Device" + std::to_string(event.device + 1)});
        if (enclosureFields_)
            for (auto& field : enclosureFields_(event.device)) entry.fields.push_back(field);
    }
    if (event.member == 0 || event.member == 1)
        entry.fields.push_back({"MEMBER_SLOT", kMemberNames[event.member]});
    open_ = std::move(entry);
}

void EventJournal::Close() {
    if (!open_) return;
    if (!detail_.empty()) open_->fields.push_back({"DETAIL", std::move(detail_)});
    detail_.clear();
    done_.push_back(std::move(*open_));
    open_.reset();
}

std::vector<JournalEntry> EventJournal::Take() {
    Close();
    return std::exchange(done_, {});
}

int JournalNotes::overflow(int c) {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    xsputn(&ch, 1);
    return c;
}

std::streamsize JournalNotes::xsputn(const char* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i) {
        if (text[i] != '\n') {
            line_ += text[i];
            continue;
        }
        sync();
    }
    return count;
}

int JournalNotes::sync() {
    if (line_.empty()) return 0;
    constexpr std::string_view kPrefix = "raidctl: ";
    std::string note = std::exchange(line_, {});
    if (note.starts_with(kPrefix)) note.erase(0, kPrefix.size());
    send_(NoteEntry(note));
    return 0;
}

JournalEntry NoteEntry(const std::string& note) {
    JournalEntry entry{LOG_INFO, note, {}};
    const auto has = [&note](const char* text) { return note.find(text) != std::string::npos; };
    if (has("did not answer")) {
        entry.priority = LOG_WARNING;
        entry.fields.push_back({"MESSAGE_ID", has("no longer monitored")
                                                  ? "199893c114b44fcc948a3600a6ab2654"
                                                  : "9bf6f825c780478f8bb744be52b5f395"});
    } else if (has("answers again")) {
        entry.priority = LOG_NOTICE;
        entry.fields.push_back({"MESSAGE_ID", "f16128c2c28f4919a0f17787a23efb6b"});
    } else if (note.starts_with("cannot") || note.starts_with("Cannot") || has("failed") ||
               has("not usable") || has("damaged")) {
        // A log file, the settings or a mail that did not work out.
        entry.priority = LOG_ERR;
    }
    // "Device1 (disk 2 (/dev/sdc)) ...": which enclosure, as the events say.
    if (note.starts_with("Device") && note.size() > 6 && note[6] >= '1' && note[6] <= '8')
        entry.fields.push_back({"ENCLOSURE", note.substr(0, 7)});
    return entry;
}

std::string StatusText(const MonitorReport& report) {
    int shown = 0, silent = 0, degraded = 0, smartErrors = 0;
    std::vector<int> rebuilds;
    for (const MonitoredEnclosure& e : report.enclosures) {
        const DeviceStatus& s = e.status;
        if (!s.polled) continue;
        ++shown;
        if (!s.pollOk) {
            ++silent;
            continue;
        }
        if (MemberDown(s.members[0]) || MemberDown(s.members[1])) ++degraded;
        if (Rebuilding(s)) rebuilds.push_back(s.rebuildPercent);
        for (const SmartVerdict v : e.smart)
            if (v == SmartVerdict::Error) ++smartErrors;
    }
    if (shown == 0) return "no enclosure; waiting for one";
    std::vector<std::string> parts;
    if (silent > 0) parts.push_back(std::to_string(silent) + " not answering");
    if (degraded > 0) parts.push_back(std::to_string(degraded) + " degraded");
    for (const int percent : rebuilds)
        parts.push_back("rebuilding " + std::to_string(percent) + "%");
    if (smartErrors > 0)
        parts.push_back(std::to_string(smartErrors) + " member" + (smartErrors == 1 ? "" : "s") +
                        " with SMART Error");
    std::string text = std::to_string(shown) + (shown == 1 ? " enclosure: " : " enclosures: ");
    if (parts.empty()) return text + "healthy";
    for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? ", " : "") + parts[i];
    return text;
}

}  // namespace raid::service
