#pragma once

// The signed-in account: the stored access key (present while signed in) and the e-mail address
// confirmed at sign-in. Kept in the owner-only file "account.json" in the data folder; there is no
// keyring here. Lives on the main thread and announces every change.

#include <QObject>

#include <filesystem>
#include <optional>
#include <string>

namespace velmora {

class AccountState : public QObject {
    Q_OBJECT

public:
    /// The one state of the process over the data folder's "account.json", read on first use.
    static AccountState& shared();

    /// Reads the file; a missing or unreadable file means nobody has signed in. A file whose
    /// content cannot be read is moved aside at the first write; one that cannot be opened at all
    /// (permissions, an I/O error) is never written: changes stay in memory.
    explicit AccountState(std::filesystem::path file, QObject* parent = nullptr);

    /// Why the file could not be opened at the load; absent when it was read or was not there.
    const std::optional<std::string>& readError() const { return readError_; }

    const std::optional<std::string>& accessKey() const { return accessKey_; }
    bool signedIn() const { return accessKey_.has_value(); }
    /// Empty when no address is known.
    const std::string& email() const { return email_; }

    /// Keeps the key and the address and writes the file.
    void signIn(std::string accessKey, std::string email);
    /// Forgets the key (the address stays known), writes the file and posts the notification that
    /// the user has to sign in again.
    void signOut();

    const std::filesystem::path& file() const { return file_; }

Q_SIGNALS:
    void changed();

private:
    void load();
    void write();

    std::filesystem::path file_;
    std::optional<std::string> accessKey_;
    std::string email_;
    bool unreadableFile_ = false;
    std::optional<std::string> readError_;
};

}  // namespace velmora
