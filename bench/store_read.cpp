// Reading times of the stored formats: the registry store, a property bag and a form file, each
// with many values, to show that reading grows in step with the file's size.
// Built and run by bench/store-read.sh.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "automation/PropertyBag.h"
#include "tools/FormFile.h"
#include "win/RegistryStore.h"

namespace {

constexpr int kRuns = 5;
constexpr const char* kKey = "HKEY_LOCAL_MACHINE\\Software\\Parvix 2002\\Version";

// Median wall time of kRuns calls, in milliseconds.
double medianMs(const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// One key with the given number of values, in the format the store writes.
std::string storeText(std::size_t values) {
    std::string text = "Windows Registry Editor Version 5.00\n\n[";
    text += kKey;
    text += "]\n";
    for (std::size_t i = 0; i < values; ++i) text += "\"v" + std::to_string(i) + "\"=\"x\"\n";
    return text + "\n";
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void report(const char* what, std::size_t bytes, double ms) {
    std::printf("  %-44s %9.2f MiB %10.1f ms\n", what, static_cast<double>(bytes) / (1 << 20), ms);
}

}  // namespace

int main() {
    std::string tmpl =
        (std::filesystem::temp_directory_path() / "carvo-store-bench-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) return 1;
    const std::filesystem::path dir = tmpl;
    std::printf("Median of %d runs:\n", kRuns);

    for (std::size_t values : {40000u, 4000000u}) {
        const std::string text = storeText(values);
        if (text.size() > 64u * 1024 * 1024) continue;
        const auto path = dir / ("store-" + std::to_string(values) + ".reg");
        writeFile(path, text);
        carvo::RegistryStore store(path);
        const std::string last = "v" + std::to_string(values - 1);
        const double read = medianMs([&] {
            if (!store.read(kKey, last)) std::abort();
        });
        report(("store read, " + std::to_string(values) + " values").c_str(), text.size(), read);
        int n = 0;
        const double write =
            medianMs([&] { store.setValue(kKey, "v0", carvo::RegValue::sz(std::to_string(++n))); });
        report(("store write of one value, " + std::to_string(values) + " values").c_str(),
               text.size(), write);
    }

    std::string bag;
    for (int i = 0; i < 40000; ++i)
        bag += "Key" + std::to_string(i) + " = Long " + std::to_string(i) + "\n";
    report("bag parse, 40000 entries", bag.size(), medianMs([&] {
               if (carvo::TextPropertyBag::parse(bag).entries().size() != 40000) std::abort();
           }));

    std::string form;
    for (int c = 0; c < 10000; ++c) {
        form += "Begin Carvo.DownLoad dl" + std::to_string(c) + "\n";
        for (int i = 0; i < 4; ++i) form += "    Key" + std::to_string(i) + " = Long 1\n";
        form += "End\n";
    }
    report("form parse, 10000 controls of 4 entries", form.size(), medianMs([&] {
               if (carvo::FormFile::parse(form).controls.size() != 10000) std::abort();
           }));

    std::filesystem::remove_all(dir);
    return 0;
}
