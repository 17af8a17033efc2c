#pragma once
// `raidctl mail-test` and `raidctl mail-settings`: the e-mail settings of
// the window program, headless, in this process or through the service.
// Neither touches a disk.
#include <ostream>

#include "cli/raidctl_args.h"
#include "client/enclosure_access.h"
#include "client/mail_records.h"

namespace raid::cli {

// The settings as text, one "name  value" line each, or as one JSON line;
// the password is only said to be set, empty or unreadable.
void PrintMailSettingsText(const client::MailSettingsRecord& settings, std::ostream& out);
void PrintMailSettingsJson(const client::MailSettingsRecord& settings, std::ostream& out);

// 0 shown (or none stored); 3 the file cannot be read or does not parse;
// or the refusal's outcome (77 not authorized, 69 the service went away).
int RunMailSettingsVia(const Arguments& args, client::EnclosureAccess& access, std::ostream& out,
                       std::ostream& err);

// Sends the test mail and prints the exchange. 0 sent; 3 no settings, an
// unreadable file, or not sent; or the refusal's outcome.
int RunMailTestVia(const Arguments& args, client::EnclosureAccess& access, std::ostream& out,
                   std::ostream& err);

// Both in this process, with the settings file of --settings (or the
// default).
int RunMailSettings(const Arguments& args, std::ostream& out, std::ostream& err);
int RunMailTest(const Arguments& args, std::ostream& out, std::ostream& err);

}  // namespace raid::cli
