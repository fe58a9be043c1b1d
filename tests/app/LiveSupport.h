#pragma once

// The real client against the stand-in on loopback, with one account, and a
// model of the native workspace over it.

#include "AppTestSupport.h"
#include "OperationRoutes.h"
#include "StandinServer.h"

#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"

#include <memory>

namespace livetest {

struct LiveService {
    LiveService(const QString &email, const QString &password)
    {
        server.start();
        server.addAccount(email, password, QStringLiteral("Kitty"));
        keychain = KeychainStore::inMemory();
        ZephylAPI::Setup setup;
        setup.baseURL = QUrl(server.origin());
        setup.keychain = keychain.get();
        api = std::make_unique<ZephylAPI>(setup);
        road = std::make_unique<ZephylServiceClient>(*api);
        h.store.setBool(QStringLiteral("zephyl.mac.workspace.native"), true);
        h.make(road.get());
    }

    Standin::Operations &ops() { return Standin::operations(server); }

    // Declared in the order they are needed; the model goes first.
    Standin::Server server;
    std::unique_ptr<KeychainStore> keychain;
    std::unique_ptr<ZephylAPI> api;
    std::unique_ptr<ZephylServiceClient> road;
    apptest::Harness h;
};

} // namespace livetest
