#include "Support/PrivatePulseServer.hpp"

#include "Platform/Sys/FileIO.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace velmora::test {
namespace {

/// The environment of the server and its clients: everything of theirs inside `folder`.
std::vector<std::string> environmentFor(const fs::path& folder, const std::string& address) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    variables["HOME"] = folder.string();
    variables["XDG_CONFIG_HOME"] = (folder / "config").string();
    variables["XDG_RUNTIME_DIR"] = (folder / "runtime").string();
    variables["PULSE_RUNTIME_PATH"] = (folder / "runtime").string();
    variables["PULSE_STATE_PATH"] = (folder / "state").string();
    variables["PULSE_SERVER"] = address;
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY", "PULSE_SINK", "PULSE_SOURCE"})
        variables.erase(name);
    std::vector<std::string> result;
    for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
    return result;
}

pid_t spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            const fs::path& output, const fs::path& errors) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(error));
    return pid;
}

/// The exit status, or nullopt when the process is still running after `seconds`.
std::optional<int> waitFor(pid_t pid, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0) return -1;
        if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void end(pid_t pid) {
    ::kill(pid, SIGTERM);
    if (!waitFor(pid, 5.0)) {
        ::kill(pid, SIGKILL);
        waitFor(pid, 5.0);
    }
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::optional<fs::path> PrivatePulseServer::program() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t colon = std::min(dirs.find(':', start), dirs.size());
        const fs::path candidate = fs::path(dirs.substr(start, colon - start)) / "pulseaudio";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = colon + 1;
    }
    return std::nullopt;
}

PrivatePulseServer::PrivatePulseServer() {
    // Under /tmp: a socket's path must stay short.
    std::string pattern = "/tmp/velmora-pulse-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder for the sound server");
    folder_ = pattern;
    for (const char* sub : {"config", "runtime", "state"}) fs::create_directories(folder_ / sub);
    fs::permissions(folder_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    address_ = "unix:" + (folder_ / "native").string();
    platform::sys::writeFile(
        folder_ / "server.pa",
        "load-module module-native-protocol-unix auth-anonymous=1 socket=" + (folder_ / "native").string() +
            "\n"
            "load-module module-null-sink sink_name=speakers rate=48000 channels=2 "
            "sink_properties=device.description=Speakers\n"
            "set-default-sink speakers\n"
            "set-default-source speakers.monitor\n");
    const auto binary = program();
    if (!binary) throw std::runtime_error("no pulseaudio program on this machine");
    // -n: none of the machine's own start-up script; --system=false also as root, where the
    // server warns but runs. The resampler between the 16 kHz streams and the 48 kHz sinks is
    // the good one: the default (speex, quality 1) changes speech enough for the small test model
    // to lose half the words of some phrases.
    pid_ = spawn({binary->string(), "-n", "-F", (folder_ / "server.pa").string(), "--daemonize=no", "--system=false",
                  "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes", "--realtime=no",
                  "--high-priority=no", "--resample-method=soxr-vhq", "--log-target=stderr", "--log-level=notice"},
                 environmentFor(folder_, address_), folder_ / "server.out", folder_ / "server.log");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        if (fs::exists(folder_ / "native")) {
            try {
                pactl({"info"});
                break;
            } catch (const std::exception&) {
            }
        }
        if (waitFor(pid_, 0) || std::chrono::steady_clock::now() > deadline) {
            const std::string serverLog = log();
            stop();
            throw std::runtime_error("the private sound server did not start:\n" + serverLog);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (const char* old = std::getenv("PULSE_SERVER")) previousServer_ = old;
    ::setenv("PULSE_SERVER", address_.c_str(), 1);
}

PrivatePulseServer::~PrivatePulseServer() {
    stop();
}

void PrivatePulseServer::stop() {
    if (pid_ > 0) {
        end(pid_);
        pid_ = -1;
        if (previousServer_) {
            ::setenv("PULSE_SERVER", previousServer_->c_str(), 1);
        } else {
            ::unsetenv("PULSE_SERVER");
        }
        previousServer_.reset();
    }
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
        folder_.clear();
    }
}

std::string PrivatePulseServer::log() const {
    return readText(folder_ / "server.log");
}

std::string PrivatePulseServer::pactl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{"pactl", "--server=" + address_};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const fs::path output = folder_ / "pactl.out";
    const fs::path errors = folder_ / "pactl.err";
    fs::remove(errors);
    const pid_t pid = spawn(command, environmentFor(folder_, address_), output, errors);
    const auto status = waitFor(pid, 20.0);
    if (!status) end(pid);
    if (status != 0) {
        std::string text;
        for (const auto& a : arguments) text += " " + a;
        throw std::runtime_error("pactl" + text + " failed: " + readText(errors));
    }
    return readText(output);
}

void PrivatePulseServer::createNullSink(const std::string& name, std::uint32_t sampleRate, std::uint32_t channels) {
    pactl({"load-module", "module-null-sink", "sink_name=" + name, "rate=" + std::to_string(sampleRate),
           "channels=" + std::to_string(channels), "sink_properties=device.description=" + name});
}

void PrivatePulseServer::createMicrophone(const std::string& name) {
    createNullSink(feedOf(name), 48000, 1);
    pactl({"load-module", "module-remap-source", "master=" + monitorOf(feedOf(name)), "source_name=" + name,
           "source_properties=device.description=" + name});
}

void PrivatePulseServer::setDefaultSink(const std::string& name) {
    pactl({"set-default-sink", name});
}

void PrivatePulseServer::setDefaultSource(const std::string& name) {
    pactl({"set-default-source", name});
}

void PrivatePulseServer::removeNullSink(const std::string& name) {
    // "pactl list short modules": index, name, arguments.
    const std::string modules = pactl({"list", "short", "modules"});
    std::size_t start = 0;
    while (start < modules.size()) {
        const std::size_t end = std::min(modules.find('\n', start), modules.size());
        const std::string line = modules.substr(start, end - start);
        if (line.find("sink_name=" + name + " ") != std::string::npos ||
            line.find("sink_name=" + name + "\t") != std::string::npos) {
            pactl({"unload-module", line.substr(0, line.find('\t'))});
        }
        start = end + 1;
    }
}

fs::path PrivatePulseServer::writeSamples(const std::vector<float>& samples) const {
    const fs::path file = folder_ / ("play-" + std::to_string(files_++) + ".raw");
    platform::sys::writeFile(
        file, std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(float)));
    return file;
}

std::vector<std::string> PrivatePulseServer::playerArguments(const std::string& sink, const fs::path& file,
                                                             std::uint32_t sampleRate) const {
    return {"paplay",
            "--server=" + address_,
            "--device=" + sink,
            "--raw",
            "--format=float32le",
            "--channels=1",
            "--rate=" + std::to_string(sampleRate),
            file.string()};
}

void PrivatePulseServer::play(const std::string& sink, const std::vector<float>& samples,
                              std::uint32_t sampleRate) const {
    if (!startPlaying(sink, samples, sampleRate).wait()) throw std::runtime_error("paplay failed: " + log());
}

PrivatePulseServer::Playback PrivatePulseServer::startPlaying(const std::string& sink,
                                                              const std::vector<float>& samples,
                                                              std::uint32_t sampleRate) const {
    const fs::path file = writeSamples(samples);
    return Playback(spawn(playerArguments(sink, file, sampleRate), environmentFor(folder_, address_),
                          folder_ / "paplay.out", folder_ / "paplay.err"));
}

PrivatePulseServer::Playback::~Playback() {
    if (pid_ > 0) end(pid_);
}

bool PrivatePulseServer::Playback::wait() {
    if (pid_ <= 0) return false;
    const auto status = waitFor(pid_, 600.0);
    if (!status) end(pid_);
    pid_ = -1;
    return status == 0;
}

}  // namespace velmora::test
