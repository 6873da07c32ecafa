#include "program_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

extern char** environ;

namespace {

// Windows console lines end in CR LF. Checks that every line end is one, and turns them into
// the LF the tests expect.
std::string fromWindowsLineEnds(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            if (plain.empty() || plain.back() != '\r') {
                ADD_FAILURE() << "a line end without CR at byte " << i;
            } else {
                plain.pop_back();
            }
        }
        plain += text[i];
    }
    return plain;
}

// Leaves out what wine itself says on standard error ("wine: ...", "0024:fixme:...").
std::string withoutWineLines(const std::string& text) {
    std::istringstream lines(text);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        const bool wine =
            line.rfind("wine: ", 0) == 0 || line.find(":fixme:") != std::string::npos ||
            line.find(":err:") != std::string::npos || line.find(":warn:") != std::string::npos;
        if (!wine) kept += line + "\n";
    }
    return kept;
}

}  // namespace

bool windowsProgram() { return std::getenv("MORVANE_TEST_WINDOWS") != nullptr; }

Result runMorvane(const std::vector<std::string>& args, const std::string& cwd,
                  const std::vector<std::string>& extraEnv, int terminal,
                  const std::function<void(pid_t)>& whileRunning) {
    TempDir console;
    const std::string outPath = console / "out";
    const std::string errPath = console / "err";
    std::vector<std::string> argStrings;
    if (const char* wrapper = std::getenv("MORVANE_TEST_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string word; words >> word;) argStrings.push_back(word);
    }
    const char* program = std::getenv("MORVANE_TEST_PROGRAM");
    argStrings.emplace_back(program != nullptr ? program : MORVANE_BIN);
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings(extraEnv);
    for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int out = terminal >= 0 ? terminal : open(outPath.c_str(), O_WRONLY | O_CREAT, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT, 0600);
        if (chdir(cwd.c_str()) != 0 || out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(127);
        }
        environ = envp.data();
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (whileRunning) whileRunning(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    // A test that acts on the running program looks at how it ended itself.
    if (!whileRunning) {
        EXPECT_TRUE(WIFEXITED(status)) << "morvane did not exit normally";
    }
    Result result{WEXITSTATUS(status), terminal >= 0 ? "" : asText(readFile(outPath)),
                  asText(readFile(errPath)), WIFSIGNALED(status) ? WTERMSIG(status) : 0};
    if (windowsProgram()) {
        result.out = fromWindowsLineEnds(result.out);
        result.err = fromWindowsLineEnds(withoutWineLines(result.err));
    }
    return result;
}

std::vector<std::string> shimmed(const std::string& setting) {
    return {"LD_PRELOAD=" MORVANE_IO_SHIM, setting,
            // The shim comes before a sanitizer runtime in the library list; that is fine.
            "ASAN_OPTIONS=verify_asan_link_order=0"};
}
