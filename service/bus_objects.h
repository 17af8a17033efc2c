#pragma once
// The service's objects on the system bus: the manager and one object per
// enclosure. They live in the bus thread (service/bus_front.h); the adaptors
// generated from dbus/org.raidenclosure.Manager1.xml call them.
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>

#include "client/bus_names.h"
#include "client/bus_types.h"
#include "client/enclosure_records.h"

namespace raid::service {

class BusFront;

// The properties of the Enclosure interface of enclosure `index`.
QVariantMap EnclosureProperties(int index, const client::DeviceStatus& device);

class ManagerObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_PROPERTY(QString Version READ version)
    Q_PROPERTY(uint InterfaceVersion READ interfaceVersion)
    Q_PROPERTY(QString State READ state)
public:
    explicit ManagerObject(BusFront& front) : front_(front) {}
    QString version() const;
    uint interfaceVersion() const { return client::bus::kInterfaceVersion; }
    QString state() const;

public Q_SLOTS:
    QDBusObjectPath FindEnclosure(const QString& disk, const QVariantMap& options);
    uint GetHealth(const QVariantMap& options, QStringList& texts);
    QStringList ListDayFiles(const QVariantMap& options);
    QByteArray ReadDayFile(const QString& name, const QVariantMap& options);
    raid::client::ManagedObjects GetManagedObjects();
    QVariantMap GetMailSettings(const QVariantMap& options);
    void SetMailSettings(const QVariantMap& changes, const QVariantMap& options);
    uint SendTestMail(const QVariantMap& options, QStringList& transcript, QStringList& notes,
                      QString& to);

Q_SIGNALS:
    void EventLine(const QString& line);
    void InterfacesAdded(const QDBusObjectPath& object,
                         const raid::client::InterfaceMap& interfaces);
    void InterfacesRemoved(const QDBusObjectPath& object, const QStringList& interfaces);

private:
    void Find(const QDBusMessage& message, const QString& disk);

    BusFront& front_;
};

class EnclosureObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_PROPERTY(int Index READ index)
    Q_PROPERTY(int Disk READ disk)
    Q_PROPERTY(QString Device READ device)
    Q_PROPERTY(QString Model READ model)
    Q_PROPERTY(QString Firmware READ firmware)
    Q_PROPERTY(QVariantMap Status READ status)
public:
    EnclosureObject(BusFront& front, int index) : front_(front), index_(index) {}
    int index() const { return index_; }
    int disk() const;
    QString device() const;
    QString model() const;
    QString firmware() const;
    QVariantMap status() const;
    // Every property, as GetManagedObjects and InterfacesAdded give them.
    QVariantMap Properties() const;

public Q_SLOTS:
    QVariantMap GetSmart(const QVariantMap& options);
    uint CheckFirmware(const QDBusUnixFileDescriptor& image, const QVariantMap& options,
                       QStringList& notes, QVariantMap& texts);
    QDBusObjectPath Flash(const QDBusUnixFileDescriptor& image, const QVariantMap& options);
    QDBusUnixFileDescriptor ReadFlash(uint length, const QVariantMap& options);
    uint SetBuzzer(bool mute, const QVariantMap& options, QStringList& notes, QVariantMap& status);
    uint SetBackupPeriod(const QString& choice, uchar preset, uint days, uint hours,
                         const QVariantMap& options, QStringList& notes, QVariantMap& status);

private:
    // A copy: the snapshot may change under a reference.
    client::DeviceStatus Record() const;

    BusFront& front_;
    int index_;
};

class FlashJob;

// A flash job: its progress and outcome, and the backup handshake with the
// client that started it.
class JobObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_PROPERTY(QString Operation READ operation)
    Q_PROPERTY(QDBusObjectPath Enclosure READ enclosure)
    Q_PROPERTY(QString StartedBy READ startedBy)
    Q_PROPERTY(bool Finished READ finished)
    Q_PROPERTY(uint Outcome READ outcome)
    Q_PROPERTY(QStringList Notes READ notes)
    Q_PROPERTY(uint Progress READ progress)
    Q_PROPERTY(uint Total READ total)
public:
    JobObject(std::shared_ptr<FlashJob> job, int index, QString starter);
    ~JobObject() override;
    QString operation() const { return "flash"; }
    QDBusObjectPath enclosure() const;
    QString startedBy() const { return starter_; }
    bool finished() const;
    uint outcome() const;
    QStringList notes() const;
    uint progress() const;
    uint total() const;
    QVariantMap Properties() const;
    FlashJob& job() { return *job_; }

public Q_SLOTS:
    QDBusUnixFileDescriptor GetBackup();
    void ConfirmBackup(bool stored);

Q_SIGNALS:
    void Step(uint kind, const QString& caption, const QString& text, uint value, uint icon);
    void BackupReady();
    void Completed(uint outcome, const QStringList& notes);

private:
    bool FromStarter();

    std::shared_ptr<FlashJob> job_;
    int index_;
    QString starter_;
};

}  // namespace raid::service
