// Serves one file from the loopback test server while a command runs, so that a script can
// point a program built elsewhere at it:
//   carvo_serve_file FILE -- COMMAND ARG...
// An argument "{url}" is replaced by the file's address. Exits with the command's status.

#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "HttpTestServer.h"

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
        std::cerr << "usage: carvo_serve_file FILE -- COMMAND ARG...\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream body;
    body << in.rdbuf();
    if (!in) {
        std::cerr << "cannot read " << argv[1] << '\n';
        return 2;
    }
    carvo::test::HttpTestServer server;
    std::string path("/");
    path.append(std::filesystem::path(argv[1]).filename().string());
    carvo::test::Response response;
    response.body = body.str();
    response.honourRange = true;
    server.route(path, response);

    const std::string url = server.url(path);
    std::vector<std::string> args(argv + 3, argv + argc);
    std::vector<char*> cargs;
    for (auto& a : args) {
        if (a == "{url}") a = url;
        cargs.push_back(a.data());
    }
    cargs.push_back(nullptr);
    pid_t child = 0;
    if (int e = ::posix_spawnp(&child, cargs[0], nullptr, nullptr, cargs.data(), environ); e != 0) {
        std::cerr << "cannot start " << cargs[0] << ": " << std::strerror(e) << '\n';
        return 2;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return 2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
