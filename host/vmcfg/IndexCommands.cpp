#include "host/vmcfg/IndexCommands.h"

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "host/platform/EtcdIndexStore.h"
#include "host/platform/EtcdIndexUrl.h"
#include "host/platform/IndexBackend.h"

namespace {

nlohmann::json statusJson(const EtcdGateway::Status& status) {
    nlohmann::json members = nlohmann::json::array();
    for (const EtcdGateway::Member& m : status.members)
        members.push_back({{"id", m.id}, {"name", m.name}, {"client_urls", m.clientUrls}});
    return {{"backend", "etcd"},
            {"members", members},
            {"leader", status.leaderId},
            {"revision", status.revision},
            {"db_size", status.dbSize}};
}

void printStatus(const EtcdGateway::Status& status, std::ostream& out) {
    out << "backend: etcd\n";
    for (const EtcdGateway::Member& m : status.members) {
        out << "member: " << m.id << " " << m.name;
        for (const std::string& url : m.clientUrls) out << " " << url;
        out << (m.id == status.leaderId ? " (leader)" : "") << "\n";
    }
    out << "leader: " << (status.leaderId.empty() ? "none" : status.leaderId) << "\n"
        << "revision: " << status.revision << "\n"
        << "db_size: " << status.dbSize << " bytes" << std::endl;
}

}  // namespace

IndexCommands::IndexCommands(CLI::App& app) {
    group_ = app.add_subcommand("index", "Where the B-tree index records live ($VM_INDEX)");
    group_->require_subcommand(1);
    status_ = group_->add_subcommand("status", "The index backend and, for etcd, its cluster");
}

bool IndexCommands::selected() const {
    return group_->parsed();
}

int IndexCommands::run(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    std::string error;
    if (IndexBackend::current(error) == nullptr) {
        err << "vmcfg: " << error << std::endl;
        return 1;
    }
    const char* text = std::getenv("VM_INDEX");
    EtcdIndexUrl url;
    if (text == nullptr || !EtcdIndexUrl::parse(text, url, error)) {
        // current() accepted it, so it is the LMDB default.
        if (options.json)
            out << nlohmann::json{{"backend", "lmdb"}}.dump() << std::endl;
        else
            out << "backend: lmdb (index files under the platform root)" << std::endl;
        return 0;
    }
    std::unique_ptr<EtcdIndexStore> store = EtcdIndexStore::open(url, error);
    EtcdGateway::Status status;
    EtcdGateway::Result result;
    if (store) result = store->gateway().status(status);
    if (!store || !result.ok()) {
        err << "vmcfg: etcd cluster " << text << ": " << (store ? result.message : error)
            << std::endl;
        return 1;
    }
    if (options.json)
        out << statusJson(status).dump() << std::endl;
    else
        printStatus(status, out);
    return 0;
}
