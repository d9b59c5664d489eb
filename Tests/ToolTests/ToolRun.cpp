#include "ToolRun.hpp"

#include "Support/TestEnvironment.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace velmora::test {

namespace {

ToolRun spawnAndWait(const std::string& program, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment,
                     const std::filesystem::path& workingFolder) {
    TempDir folder("tool-run");
    const std::string outPath = (folder / "out").string(), errPath = (folder / "err").string();

    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!environment.contains(text.substr(0, text.find('=')))) variables.push_back(text);
    }
    for (const auto& [name, value] : environment)
        if (!value.empty()) variables.push_back(name + "=" + value);

    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!workingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error(std::string("cannot start " + program + ": ") + std::strerror(spawned));
    // A program that does not end within a minute has hung (a server serving what it should refuse).
    int status = 0;
    bool killed = false;
    for (int waited = 0;; ++waited) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
        if (waited == 6000) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            killed = true;
            break;
        }
        usleep(10000);
    }
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    // The tests print what the program said when its status is wrong: this says why.
    if (killed) run.err += "\n(killed: " + program + " had not ended after 60 s)\n";
    return run;
}

}  // namespace

ToolRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment) {
    return spawnAndWait(program, arguments, environment, {});
}

ToolRun runTool(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment) {
    return spawnAndWait(VELMORA_DEV_PATH, arguments, environment, {});
}

pid_t startTool(const std::vector<std::string>& arguments) {
    const std::string program = VELMORA_DEV_PATH;
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawned));
    return child;
}

int waitForExit(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

ToolRun runToolIn(const std::filesystem::path& folder, const std::vector<std::string>& arguments) {
    return spawnAndWait(VELMORA_DEV_PATH, arguments, {}, folder);
}

ToolRun runToolWithFileSizeLimit(int blocks, const std::vector<std::string>& arguments) {
    // The shell sets the limit for itself and the tool it becomes (a POSIX shell counts 512-byte
    // blocks); an ignored signal stays ignored across exec.
    std::vector<std::string> shell{"-c", "ulimit -f " + std::to_string(blocks) + " && trap '' XFSZ && exec \"$@\"",
                                   "sh", VELMORA_DEV_PATH};
    shell.insert(shell.end(), arguments.begin(), arguments.end());
    return runProgram("/bin/sh", shell);
}

int lineCount(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines + (!text.empty() && text.back() != '\n');
}

}  // namespace velmora::test
