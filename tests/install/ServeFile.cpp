// Serves one file from the loopback test server while a command runs, so that a script can
// point a program built elsewhere at it:
//   carvo_serve_file FILE -- COMMAND ARG...
// COMMAND is a path; an argument "{url}" is replaced by the file's address. Passes on what the
// command printed and exits with its status.

#include <cstring>
#include <filesystem>
#include <iostream>

#include "HttpTestServer.h"
#include "NginxServer.h"

int main(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
        std::cerr << "usage: carvo_serve_file FILE -- COMMAND ARG...\n";
        return 2;
    }
    carvo::test::HttpTestServer server;
    std::string path("/");
    path.append(std::filesystem::path(argv[1]).filename().string());
    carvo::test::Response response;
    response.body = carvo::test::loadBytes(argv[1]);  // throws, and so fails, when unreadable
    response.honourRange = true;
    server.route(path, response);

    std::vector<std::string> args(argv + 3, argv + argc);
    for (auto& a : args)
        if (a == "{url}") a = server.url(path);
    const carvo::test::ProcessResult result = carvo::test::runProcess(args);
    std::cout << result.out;
    std::cerr << result.err;
    return result.exitStatus;
}
