// What the tests know about the private loopback servers: the KEY=VALUE
// lines that peers.py writes to <dir>/state.env (ports, users, paths).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testpeers {

class PeerState {
public:
    // Reads $MT_PEERS_DIR/state.env, or the build tree's own server
    // directory when the variable is not set.
    PeerState();
    // False (with the reason in Error()) when the servers are not running.
    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }

    std::string Get(const std::string& key) const;
    int GetInt(const std::string& key) const;
    std::vector<std::string> GetList(const std::string& key) const;

private:
    std::map<std::string, std::string> m_values;
    std::string m_error;
};

// Writes a message into a user's Maildir the way a delivery does (tmp/ then
// new/), owned by the servers' mail user.  `text` uses LF line ends.  The
// name carries `order` so that the server numbers messages in that order.
bool DeliverToMaildir(const PeerState& state, const std::string& user, int order,
                      const std::string& text);
// Removes every message of a user's mailbox (while no session is open).
bool EmptyMaildir(const PeerState& state, const std::string& user);
// The number of messages a user's Maildir holds.
int CountMaildir(const PeerState& state, const std::string& user);

} // namespace testpeers
