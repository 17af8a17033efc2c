#pragma once
// `raidctl mail-test` and `raidctl mail-settings`: the e-mail settings of
// the window program, headless. Neither touches a disk.
#include <ostream>

#include "cli/raidctl_args.h"
#include "mail/mail_settings.h"

namespace raid::cli {

// The settings as text, one "name  value" line each, or as one JSON line;
// the password is only said to be set, empty or unreadable.
void PrintMailSettingsText(const std::string& file, const mail::MailSettingsState& settings,
                           std::ostream& out);
void PrintMailSettingsJson(const std::string& file, const mail::MailSettingsState& settings,
                           std::ostream& out);

// 0 shown (or none stored); 3 the file cannot be read or does not parse.
int RunMailSettings(const Arguments& args, std::ostream& out, std::ostream& err);

// Sends the test mail and prints the exchange. 0 sent; 3 no settings, an
// unreadable file, or not sent.
int RunMailTest(const Arguments& args, std::ostream& out, std::ostream& err);

}  // namespace raid::cli
