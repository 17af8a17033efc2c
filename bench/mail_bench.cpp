// Costs on the mail path that grow with their input: reading a settings
// file as the exporter writes it (UTF-16, long hex data), and formatting a
// notification whose body template is large.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "mail/mail_message.h"
#include "mail/reg_file.h"
#include "mail/unicode_text.h"

namespace {

using namespace raid::mail;

std::vector<std::uint8_t> ExportedKey(int values) {
    RegDocument doc;
    RegKey& key = doc.AddKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI");
    for (int i = 0; i < values; ++i) {
        key.Set(RegValue::String("ToAddr_" + std::to_string(i),
                                 "user" + std::to_string(i) + "@example.com"));
        key.Set(RegValue::Binary("Blob" + std::to_string(i), std::vector<std::uint8_t>(64, 0xA5)));
    }
    std::vector<std::uint8_t> bytes{0xFF, 0xFE};
    for (const std::uint8_t b : Utf8ToUtf16Le(FormatRegText(doc))) bytes.push_back(b);
    return bytes;
}

void BM_ParseExportedSettings(benchmark::State& state) {
    const auto bytes = ExportedKey(static_cast<int>(state.range(0)));
    std::string error;
    for (auto _ : state) benchmark::DoNotOptimize(ParseRegText(bytes, error));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_ParseExportedSettings)->Arg(16)->Arg(1024);

void BM_FormatNotification(benchmark::State& state) {
    MessageHeader header;
    header.senderName = "RAID Box";
    header.senderAddress = "raid@example.com";
    header.to = std::vector<std::string>(10, "ops@example.com");
    header.subject = "[RAID GUI v0.50.11-5 Message] Disk lost";
    header.messageId = "<id@example.com>";
    std::vector<std::string> body(static_cast<std::size_t>(state.range(0)),
                                  ".Device1 information : Mirroring(RAID1), F/W Rev. R105B07A");
    for (auto _ : state) benchmark::DoNotOptimize(FormatMessage(header, body, true));
}
BENCHMARK(BM_FormatNotification)->Arg(20)->Arg(10000);

}  // namespace
