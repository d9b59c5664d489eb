#include "Velmora/Account/AccountState.hpp"

#include "Velmora/Support/Log.hpp"
#include "Velmora/Support/Notifications.hpp"
#include "Velmora/Support/Paths.hpp"

#include <nlohmann/json.hpp>

#include <system_error>

namespace fs = std::filesystem;

namespace velmora {

AccountState& AccountState::shared() {
    static AccountState* state = new AccountState(Paths::root() / "account.json");
    return *state;
}

AccountState::AccountState(fs::path file, QObject* parent) : QObject(parent), file_(std::move(file)) {
    load();
}

void AccountState::load() {
    Paths::StoreRead read = Paths::readStoreFile(file_, "не удалось прочитать аккаунт, файл не будет переписан: ");
    readError_ = std::move(read.error);
    if (!read.bytes) return;
    const std::string& bytes = *read.bytes;
    const nlohmann::json object = nlohmann::json::parse(bytes, nullptr, false);
    if (!object.is_object()) {
        unreadableFile_ = true;
        Log::app.error("файл аккаунта не читается, считаю, что вход не выполнен: " + file_.string());
        return;
    }
    if (auto it = object.find("accessKey"); it != object.end() && it->is_string() && !it->get<std::string>().empty())
        accessKey_ = it->get<std::string>();
    if (auto it = object.find("email"); it != object.end() && it->is_string()) email_ = it->get<std::string>();
}

void AccountState::write() {
    nlohmann::json object = nlohmann::json::object();
    if (accessKey_) object["accessKey"] = *accessKey_;
    object["email"] = email_;
    if (readError_) {
        Log::app.error("аккаунт не прочитан при запуске, файл не переписываю: " + file_.string());
        return;
    }
    try {
        Paths::makeFolder(file_.parent_path());
        if (unreadableFile_) {
            if (const auto aside = Paths::moveAside(file_))
                Log::app.error("нечитаемый файл аккаунта сохранён как " + aside->filename().string());
            unreadableFile_ = false;
        }
        Paths::writeFile(file_, object.dump(2) + "\n");
        Paths::protect(file_);
    } catch (const std::exception& error) {
        Log::app.error(std::string("не удалось сохранить аккаунт: ") + error.what());
    }
}

void AccountState::signIn(std::string accessKey, std::string email) {
    accessKey_ = std::move(accessKey);
    email_ = std::move(email);
    write();
    Q_EMIT changed();
}

void AccountState::signOut() {
    if (accessKey_) {
        accessKey_.reset();
        write();
        Q_EMIT changed();
    }
    Notifications::shared().post(Notifications::velmoraNeedsSignIn);
}

}  // namespace velmora
