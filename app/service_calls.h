#pragma once
// The window's calls to the service. The seam's calls block (a password
// prompt may hold one for minutes), so they run in order on a thread of
// their own and each answer comes back on the window's thread; the window
// never waits for one. Tests run them at once on the caller's thread.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/enclosure_access.h"

namespace raid::app {

// The notes of a service's answer, one a line, as the window tells them.
std::string JoinedLines(const std::vector<std::string>& notes);
QString Joined(const std::vector<std::string>& notes);
// What the window follows as a client, on standard error too: for the
// session's journal, where a desktop user's support starts.
void Say(const std::string& text);

struct ServiceCallQueue;

class ServiceCalls : public QObject {
    Q_OBJECT
public:
    // `runInline`: each call runs at once and its answer is handed over
    // before Call returns.
    ServiceCalls(std::shared_ptr<client::EnclosureAccess> access, bool runInline,
                 QObject* parent = nullptr);
    // Never waits: a call under way finishes on its thread, its answer
    // dropped.
    ~ServiceCalls() override;
    ServiceCalls(const ServiceCalls&) = delete;
    ServiceCalls& operator=(const ServiceCalls&) = delete;

    // Runs `call` on the calls' thread, then `done` with its answer on this
    // object's thread.
    template <typename Answer>
    void Call(std::function<Answer(client::EnclosureAccess&)> call,
              std::function<void(Answer)> done) {
        Post([call = std::move(call), done = std::move(done)](client::EnclosureAccess& access) {
            auto answer = std::make_shared<Answer>(call(access));
            return std::function<void()>([done, answer] { done(std::move(*answer)); });
        });
    }

    // Hands what a call tells while it runs (a flash's steps) to this
    // object's thread, in order with the answers. Made here and copied into
    // the call; once this object is gone it drops what it is given.
    class Messenger {
    public:
        void operator()(std::function<void()> news) const;

    private:
        friend class ServiceCalls;
        std::shared_ptr<ServiceCallQueue> queue_;
        bool inline_ = false;
    };
    Messenger messenger() const;

    // Calls queued or under way.
    int Pending() const;

private:
    using Work = std::function<std::function<void()>(client::EnclosureAccess&)>;
    void Post(Work work);
    void Deliver();  // this object's thread

    std::shared_ptr<ServiceCallQueue> queue_;
    bool inline_;
};

}  // namespace raid::app
