// Retrieved mail kept safe until it is inside a saved packet.
//
// The POP3 client writes each message straight into the spool directory
// ("$SPOOL" in the program's directory).  Once a message is complete and on
// disk, Add() records it in the spool's index before anything else happens
// to it; the files stay there, whatever becomes of the run, until
// PacketSaved() says that a packet holding them exists.  A run that ends in
// any other way (a crash, kill -9, a power loss) leaves them for the next
// start, which converts them into a packet of its own (Leftovers()).
//
// The index also remembers the server's unique id (UIDL) of every spooled
// message whose deletion the server has not confirmed yet: a run killed
// between DELE and QUIT leaves the message on the server as well as in the
// spool, and the next run must not fetch it a second time.
//
// Index file "spool.idx", rewritten as a whole through a temporary file and
// a rename, synced with its directory:
//   M <file name> <uid or ->   a complete message in the spool
//   U <uid>                    delivered; the server may still hold it
#pragma once

#include <string>
#include <vector>

class MailSpool {
public:
    struct Message {
        std::string path;        // full path of the message file
        std::string uid;         // "" when the server gave none
        bool bConverted = false; // its records are among the gathered messages
    };

    explicit MailSpool(std::string dir);

    // Creates the directory (0700) when missing and reads the index.  A
    // path that is a symbolic link or no directory is refused.  Afterwards
    // Messages() are the complete messages an earlier run left (in the
    // order they came); files the index does not name were incomplete
    // retrievals (their deletion was never committed) and are removed.
    [[nodiscard]] bool Open(std::string& error);
    const std::string& Dir() const { return m_dir; }

    // Messages recorded and not yet in a saved packet.
    const std::vector<Message>& Messages() const { return m_messages; }

    // A message file in the spool is complete: sync it and record it, with
    // its uid as delivered when the server is about to delete it (a message
    // left on the server on purpose is fetched again next time, as always).
    // False when either could not be written: the message is not safe and
    // its deletion must not be committed.
    [[nodiscard]] bool Add(const std::string& path, const std::string& uid, bool bDeleting,
                           std::string& error);
    // The message's records were made completely: a saved packet holds it.
    // One whose conversion failed stays for the next start to try again.
    void Converted(const std::string& path);
    // Whether a message with this uid was already delivered.
    bool Delivered(const std::string& uid) const;

    // A packet holding the gathered messages is saved: the files of the
    // converted messages go, their uids stay delivered until the server
    // confirms the deletion.
    [[nodiscard]] bool PacketSaved(std::string& error);
    // The server committed a session: `listed` are the uids it listed,
    // `deleted` those deleted in the session.  Delivered uids the server no
    // longer holds are forgotten.
    [[nodiscard]] bool ServerCommitted(const std::vector<std::string>& listed,
                                       const std::vector<std::string>& deleted, std::string& error);

private:
    bool WriteIndex(std::string& error);
    std::string IndexPath() const;

    std::string m_dir;
    std::vector<Message> m_messages;
    std::vector<std::string> m_delivered;
};
