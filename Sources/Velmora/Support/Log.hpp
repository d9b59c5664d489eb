#pragma once

// The application log: six categories, each line redacted, then written to the system log and to
// the file "velmora.log" in the data folder.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace velmora {

class Log {
public:
    enum class Level { debug, info, warn, error };

    /// The five characters of a level in the file: "DEBUG", "INFO ", "WARN ", "ERROR".
    static std::string_view levelText(Level level);

    class Category {
    public:
        constexpr Category(const char* systemName, const char* fileName)
            : systemName_(systemName), fileName_(fileName) {}

        /// The system log's category name ("app") and the file log's Russian name ("приложение").
        std::string_view systemName() const { return systemName_; }
        std::string_view fileName() const { return fileName_; }

        /// Redacts the message and writes it to both logs. Never fails towards the caller.
        void emit(Level level, std::string_view message) const;
        void info(std::string_view message) const { emit(Level::info, message); }
        void warn(std::string_view message) const { emit(Level::warn, message); }
        void error(std::string_view message) const { emit(Level::error, message); }

    private:
        const char* systemName_;
        const char* fileName_;
    };

    static const Category hotkey;
    static const Category audio;
    static const Category perms;
    static const Category app;
    static const Category stt;
    static const Category insert;

    /// The system log's subsystem of the application.
    static constexpr std::string_view subsystem = "com.marrent.velmora";

    /// The log file: "velmora.log" in the data folder.
    static std::filesystem::path file();

    /// One line of the file, without its line break: "HH:mm:ss.SSS  LEVEL  [category]  message" in local time.
    static std::string formatLine(std::chrono::system_clock::time_point time, Level level, std::string_view category,
                                  std::string_view message);
};

}  // namespace velmora
