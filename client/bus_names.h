#pragma once
// Names of the service on the system bus, shared by the service and its
// clients; dbus/org.raidenclosure.Manager1.xml describes them.
namespace raid::client::bus {

inline constexpr const char* kServiceName = "org.raidenclosure.Manager1";
// The Manager's InterfaceVersion: raised with every change a client made for
// the earlier interface would misread.
inline constexpr unsigned kInterfaceVersion = 2;
inline constexpr const char* kManagerPath = "/org/raidenclosure/Manager1";
inline constexpr const char* kEnclosuresPath = "/org/raidenclosure/Manager1/enclosures";
inline constexpr const char* kManagerInterface = "org.raidenclosure.Manager1.Manager";
inline constexpr const char* kEnclosureInterface = "org.raidenclosure.Manager1.Enclosure";
inline constexpr const char* kJobInterface = "org.raidenclosure.Manager1.Job";
inline constexpr const char* kJobsPath = "/org/raidenclosure/Manager1/jobs";

inline constexpr const char* kErrorNotAuthorized = "org.raidenclosure.Manager1.Error.NotAuthorized";
inline constexpr const char* kErrorCanObtain =
    "org.raidenclosure.Manager1.Error.NotAuthorizedCanObtain";
inline constexpr const char* kErrorDismissed =
    "org.raidenclosure.Manager1.Error.NotAuthorizedDismissed";
inline constexpr const char* kErrorBusy = "org.raidenclosure.Manager1.Error.Busy";
inline constexpr const char* kErrorFailed = "org.raidenclosure.Manager1.Error.Failed";
inline constexpr const char* kErrorNoSuchDisk = "org.raidenclosure.Manager1.Error.NoSuchDisk";
inline constexpr const char* kErrorNoEnclosure = "org.raidenclosure.Manager1.Error.NoEnclosure";
inline constexpr const char* kErrorInvalidArgument =
    "org.raidenclosure.Manager1.Error.InvalidArgument";

// The options key that asks polkit not to prompt (as udisks names it).
inline constexpr const char* kNoInteraction = "auth.no_user_interaction";

// polkit actions (dist/org.raidenclosure.manager.policy).
inline constexpr const char* kActionReadStatus = "org.raidenclosure.manager.read-status";
inline constexpr const char* kActionSetBuzzer = "org.raidenclosure.manager.set-buzzer";
inline constexpr const char* kActionFlash = "org.raidenclosure.manager.flash";
inline constexpr const char* kActionReadFlash = "org.raidenclosure.manager.read-flash";
inline constexpr const char* kActionSetBackupPeriod = "org.raidenclosure.manager.set-backup-period";
inline constexpr const char* kActionMailSettings = "org.raidenclosure.manager.mail-settings";
inline constexpr const char* kActionTestMail = "org.raidenclosure.manager.test-mail";

}  // namespace raid::client::bus
