#pragma once
// The e-mail settings and the test mail as clients ask for them: what the
// service does for a caller on the bus, and raidctl in-process, with the
// same code. `file` empty is the default settings file.
#include <functional>
#include <string>

#include "client/mail_records.h"
#include "mail/mail_settings.h"
#include "mail/smtp_client.h"

namespace raid::service {

// What a reader sees of `state`, read from `file`: the password only as
// "set", "empty" or "invalid".
client::MailSettingsRecord MailSettingsRecordOf(const mail::MailSettingsState& state,
                                                const std::string& file);

// The settings as the file holds them now; kFailed with the problem when it
// cannot be read or does not parse.
client::MailSettingsAnswer ReadMailSettings(const std::string& file);

// Stores `changes` over the stored settings as the E-mail page's OK does
// (the password record rewritten only when a password is given, and emptied
// when the host or the account changes without one); without
// stored settings it stores the first ones as the page's first OK does,
// the rest at the page's defaults. kFailed when the file cannot be read, is
// damaged or cannot be written; nothing is written then.
client::Answer ChangeMailSettings(const std::string& file,
                                  const client::MailSettingsChanges& changes);

// Sends the test mail with the settings of `file`, each step of the
// exchange given, escaped, to `transcript` as it happens.
client::TestMailAnswer SendTestMail(const std::string& file, mail::SmtpOptions options,
                                    const std::function<void(const std::string&)>& transcript);

}  // namespace raid::service
