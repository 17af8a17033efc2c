#pragma once
// The e-mail settings record and the changes to it as D-Bus dictionaries
// (a{sv}) and back. A dictionary from the bus is outside input: a missing or
// unknown key, a value of the wrong type or out of range refuses it whole.
#include <QVariantMap>
#include <optional>
#include <string>

#include "client/mail_records.h"

namespace raid::client {

QVariantMap EncodeMailSettings(const MailSettingsRecord& settings);
std::optional<MailSettingsRecord> DecodeMailSettings(const QVariantMap& map);

QVariantMap EncodeMailChanges(const MailSettingsChanges& changes);
// Nullopt with `why` (the key and what is wrong with it, for the caller).
std::optional<MailSettingsChanges> DecodeMailChanges(const QVariantMap& map, std::string& why);

}  // namespace raid::client
