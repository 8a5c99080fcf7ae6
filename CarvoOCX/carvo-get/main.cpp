// carvo-get: fetches a file with the DownLoad control from the command line.

#include <cstdio>
#include <exception>
#include <string_view>
#include <vector>

#include "Options.h"
#include "Session.h"

int main(int argc, char** argv) {
    using namespace carvo::cli;
    std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    ParseResult parsed = parseCommandLine(args);
    switch (parsed.kind) {
        case ParseResult::Kind::Help:
            std::fputs(helpText().c_str(), stdout);
            return kExitDone;
        case ParseResult::Kind::Version:
            std::printf("%s\n", versionLine().c_str());
            return kExitDone;
        case ParseResult::Kind::UsageError:
            std::fprintf(stderr, "carvo-get: %s\n%s\nTry 'carvo-get --help' for more.\n",
                         parsed.error.c_str(), usageLine().c_str());
            return kExitUsage;
        case ParseResult::Kind::Run:
            break;
    }
    try {
        return runSession(parsed.options);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "\ncarvo-get: %s\n", e.what());
        return kExitFailed;
    }
}
