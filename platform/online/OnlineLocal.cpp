// In-process broker: several OnlineContexts of one process share one BrokerCore behind
// one lock. A client's send runs the broker synchronously on the sending thread; the
// broker's answers go straight into the addressed clients' queues (OnFrame), so a
// reply is already there when the send returns.
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineClientCore.h"

#include <map>
#include <mutex>

namespace online {

struct LocalBroker::Shared : public BrokerOutput {
    std::mutex lock;
    std::unique_ptr<BrokerCore> core;
    std::map<uint32_t, ClientCore*> clients;

    void Deliver(uint32_t session, const SharedFrame& frame, OnlineId) override {
        auto it = clients.find(session);
        if (it != clients.end()) it->second->OnFrame(frame->data() + 4, frame->size() - 4);
    }
};

namespace {

class LocalTransport : public Transport {
public:
    LocalTransport(std::shared_ptr<LocalBroker::Shared> shared, uint32_t session)
        : shared(std::move(shared)), session(session) {}
    ~LocalTransport() override { Close(); }

    bool Send(const std::vector<uint8_t>& frame) override {
        ClientCore* dropped = nullptr;
        {
            std::lock_guard<std::mutex> guard(shared->lock);
            if (!shared->core || !shared->clients.count(session)) return false;
            if (frame.size() >= 4 && shared->core->Handle(session, frame.data() + 4, frame.size() - 4)) return true;
            // A malformed message ends the session, as the socket broker closes the connection.
            dropped = shared->clients[session];
            shared->clients.erase(session);
            shared->core->RemoveSession(session);
        }
        dropped->OnDisconnected();
        return false;
    }

    void Close() override {
        std::lock_guard<std::mutex> guard(shared->lock);
        if (shared->clients.erase(session) && shared->core) shared->core->RemoveSession(session);
    }

private:
    std::shared_ptr<LocalBroker::Shared> shared;
    uint32_t session;
};

}  // namespace

LocalBroker::LocalBroker() : shared(std::make_shared<Shared>()) {}

LocalBroker::~LocalBroker() {
    std::map<uint32_t, ClientCore*> clients;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        clients.swap(shared->clients);
        shared->core.reset();
    }
    for (auto& [session, client] : clients) client->OnDisconnected();
}

bool LocalBroker::Open(const std::string& dataDir, const StatsSchema& schema, std::string* error) {
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->core = std::make_unique<BrokerCore>(shared.get());
    if (shared->core->Open(dataDir, schema, error)) return true;
    shared->core.reset();
    return false;
}

std::unique_ptr<OnlineContext> LocalBroker::CreateClient(const ClientConfig& config, std::string* error) {
    if (config.account == 0) {
        if (error) *error = "account 0 is not a valid user";
        return nullptr;
    }
    auto core = std::make_unique<ClientCore>(config);
    uint32_t session;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        if (!shared->core) {
            if (error) *error = "the broker is not open";
            return nullptr;
        }
        session = shared->core->AddSession();
        shared->clients[session] = core.get();
    }
    if (!core->Start(std::make_unique<LocalTransport>(shared, session), error)) return nullptr;
    return std::unique_ptr<OnlineContext>(new OnlineContext(std::move(core)));
}

bool LocalBroker::WithStore(const std::function<bool(BrokerStore&)>& fn) {
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->core && fn(shared->core->Store());
}

}  // namespace online
