// Measures the transfer component against the curl command line tool on a loopback nginx:
// wall time and processor time to read one large file, for several piece sizes, plus the
// process's peak resident size. Not a test; run by hand on a quiet machine:
//   inet_speed [MiB=256] [piece sizes...=65536 1024]

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "NginxServer.h"
#include "inet/CurlTransfer.h"

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace carvo;
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    std::vector<std::int32_t> sizes;
    for (int i = 2; i < argc; ++i) sizes.push_back(static_cast<std::int32_t>(std::atol(argv[i])));
    if (sizes.empty()) sizes = {65536, 1024};

    test::ScratchFolder dir("carvo-speed");
    std::filesystem::create_directories(dir / "www");
    {
        std::string block(1 << 20, 'x');
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 % 251);
        FILE* f = std::fopen((dir / "www" / "big.bin").c_str(), "wb");
        for (std::size_t i = 0; i < mib; ++i) std::fwrite(block.data(), 1, block.size(), f);
        std::fclose(f);
    }
    test::NginxServer nginx({dir / "www"});
    const std::string url = nginx.url("/big.bin");

    auto report = [&](const char* what, double wall, double cpu) {
        std::printf("%-22s %7.3f s wall %7.3f s cpu %8.1f MiB/s\n", what, wall, cpu,
                    static_cast<double>(mib) / wall);
    };

    for (int round = 0; round < 3; ++round) {
        auto t0 = Clock::now();
        double c0 = cpuSeconds(RUSAGE_CHILDREN);
        auto r = test::runProcess({"/usr/bin/curl", "-s", "-o", "/dev/null", url});
        report("curl tool", std::chrono::duration<double>(Clock::now() - t0).count(),
               cpuSeconds(RUSAGE_CHILDREN) - c0);
        if (r.exitStatus != 0) std::printf("curl failed: %s\n", r.err.c_str());

        for (std::int32_t n : sizes) {
            long yields = 0;
            CurlTransfer t([&] { ++yields; });
            t0 = Clock::now();
            c0 = cpuSeconds(RUSAGE_SELF);
            t.setUrl(url);
            t.execute();
            while (t.stillExecuting()) {
            }
            std::size_t total = 0;
            for (ByteArray p; !(p = t.getChunk(n)).empty();) total += p.size();
            const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
            std::string label = "component n=" + std::to_string(n);
            report(label.c_str(), wall, cpuSeconds(RUSAGE_SELF) - c0);
            std::printf("    %zu bytes, %ld yields, %ld pauses, peak ring %zu\n", total, yields,
                        static_cast<long>(t.stats().pauses), t.stats().peakBufferedBytes);
        }
    }
    std::printf("peak RSS of this process: %ld KiB\n", peakRssKiB());
}
