#pragma once
// The entries of pppd's line: every file of the peers folder is an entry
// (its name in the wire's code page), and the passwords are pppd's secrets
// files. PppdSyntax.h says what is read from the files.

#include "server/dialup/entries/EntryStore.h"
#include "server/dialup/entries/PppdSyntax.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velora::server::dialup {

class PppdPeers final : public EntryStore {
public:
    // Whether a word names a network interface (a PPPoE peer's device).
    using InterfaceTest = std::function<bool(const std::string &)>;

    PppdPeers(std::string peersDir, std::string secretsDir, InterfaceTest isInterface);

    // A name that is an entry: not what package tools and editors leave beside the peers.
    bool validName(const std::string &entry) const;
    std::string peerPath(const std::string &entry) const;
    std::optional<PeerFacts> readPeer(const std::string &entry) const;

    int enumEntries(std::vector<std::string> &names) const override;
    int getDialParams(const std::string &entry, DialParams &params) const override;
    int setDialParams(const std::string &entry, const DialParams &params,
                      bool removePassword) override;
    int getEntryProperties(const std::string &entry, EntryProperties &props) const override;
    int setEntryProperties(const std::string &entry, const EntryProperties &props) override;
    int renameEntry(const std::string &oldName, const std::string &newName) override;
    int deleteEntry(const std::string &entry) override;
    int createEntry(const std::string &entry, const EntryProperties &props) override;
    // Device, phone number, user and password (into the secrets files).
    std::vector<EntryField> entryFields(const std::string &entry) const override;
    int saveEntryFields(const std::string &entry, const std::vector<EntryField> &fields, bool create,
                        std::string *why) override;

private:
    int writeSecrets(const PeerFacts &peer, const std::string &user,
                     const std::optional<std::string> &password);
    int writePhone(const std::string &entry, const std::string &phone);

    std::string peersDir_;
    std::string secretsDir_;
    InterfaceTest isInterface_;
};

}  // namespace velora::server::dialup
