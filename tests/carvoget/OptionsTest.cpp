// carvo-get's command line, the resume command it prints, and its progress line.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "NginxServer.h"
#include "Options.h"
#include "Progress.h"

namespace carvo::cli {
namespace {

ParseResult parse(std::initializer_list<std::string_view> args) {
    std::vector<std::string_view> v(args);
    return parseCommandLine(v);
}

TEST(CarvoGetCommandLine, ReadsEveryOptionInBothForms) {
    ParseResult r = parse({"--chunk=65536", "--keep-type", "--online-check", "--prompt-overwrite",
                           "--trace", "http://h/f.bin", "out.bin"});
    ASSERT_EQ(r.kind, ParseResult::Kind::Run) << r.error;
    EXPECT_EQ(r.options.chunk, 65536);
    EXPECT_TRUE(r.options.keepType && r.options.onlineCheck && r.options.promptOverwrite &&
                r.options.trace);
    EXPECT_FALSE(r.options.info || r.options.resume);
    EXPECT_EQ(r.options.url, "http://h/f.bin");
    EXPECT_EQ(r.options.saveLocation, "out.bin");

    r = parse({"--resume", "--rollback", "0", "--chunk", "1", "http://h/f"});
    ASSERT_EQ(r.kind, ParseResult::Kind::Run) << r.error;
    EXPECT_EQ(r.options.rollback, 0);
    EXPECT_EQ(r.options.chunk, 1);
    EXPECT_FALSE(r.options.saveLocation.has_value());

    // After "--" a leading dash is a name, not an option.
    r = parse({"--info", "--", "-odd-url", "-odd-file"});
    ASSERT_EQ(r.kind, ParseResult::Kind::Run) << r.error;
    EXPECT_EQ(r.options.url, "-odd-url");
    EXPECT_EQ(r.options.saveLocation, "-odd-file");

    // The addresses in the order tried; the positional form stays URL [SAVE_LOCATION].
    const std::string hash(64, 'A');
    r = parse(
        {"--mirror", "http://b/f", "--sha256", hash, "--mirror=http://c/f", "http://a/f", "out"});
    EXPECT_EQ(r.options.urls(),
              (std::vector<std::string>{"http://a/f", "http://b/f", "http://c/f"}));
    EXPECT_EQ(r.options.sha256, std::string(64, 'a'));
    EXPECT_EQ(r.options.saveLocation, "out");
    EXPECT_EQ(parse({"--version", "u"}).kind, ParseResult::Kind::Version);
    EXPECT_EQ(parse({"x", "--help", "--bogus"}).kind, ParseResult::Kind::Help);
    EXPECT_EQ(parse({"-h"}).kind, ParseResult::Kind::Help);
}

TEST(CarvoGetCommandLine, RefusesWhatItCannotDoSensibly) {
    struct Case {
        std::initializer_list<std::string_view> args;
        const char* mentions;
    };
    const std::string shortHash(63, 'a'), badHash = shortHash + "g", goodHash(64, 'a');
    for (const Case& c : std::initializer_list<Case>{
             {{}, "no URL"},
             {{""}, "URL is empty"},
             {{"u", ""}, "save location is empty"},
             {{"u", "a", "b"}, "too many"},
             {{"--bogus", "u"}, "--bogus"},
             {{"-x", "u"}, "-x"},
             {{"u", "--chunk"}, "--chunk"},
             {{"--chunk", "0", "u"}, "'0'"},
             {{"--chunk", "-5", "u"}, "'-5'"},
             {{"--chunk", "12k", "u"}, "'12k'"},
             {{"--chunk", " 12", "u"}, "' 12'"},
             {{"--chunk", "67108865", "u"}, "67108864"},
             {{"--chunk", "99999999999999999999", "u"}, "--chunk"},
             {{"--resume", "--rollback=-1", "u"}, "--rollback"},
             {{"--rollback", "5", "u"}, "only with --resume"},
             {{"--info", "--resume", "u"}, "do not go together"},
             {{"--trace=yes", "u"}, "--trace takes no value"},
             {{"u", "--mirror"}, "--mirror needs a URL"},
             {{"--sha256", shortHash, "u"}, "64 hexadecimal"},
             {{"--sha256", badHash, "u"}, "64 hexadecimal"},
             {{"--sha256", goodHash, "--prompt-overwrite", "u"}, "--prompt-overwrite does not go"},
             {{"--info", "--mirror", "v", "u"}, "--info probes one URL"},
         }) {
        ParseResult r = parse(c.args);
        EXPECT_EQ(r.kind, ParseResult::Kind::UsageError) << c.mentions;
        EXPECT_NE(r.error.find(c.mentions), std::string::npos) << r.error;
    }
    EXPECT_EQ(parse({"--chunk", "67108864", "u"}).options.chunk, kMaxChunk);
}

TEST(CarvoGetCommandLine, HelpExplainsEveryOptionKeyAndExitStatus) {
    const std::string help = helpText();
    for (const char* word : {"--chunk",     "--keep-type", "--online-check", "--prompt-overwrite",
                             "--info",      "--trace",     "--resume",       "--rollback",
                             "--help",      "Ctrl-C",      "  p ",           "  c ",
                             "Exit status", "DLECode",     "SAVE_LOCATION",  "--mirror",
                             "--sha256",    "--size",      "--version",      "60 s",
                             "https_proxy", "407"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}

// The resume hint must survive the shell whatever the URL and path hold: hand it to /bin/sh
// with a stand-in for carvo-get that prints its arguments one per line.
TEST(CarvoGetCommandLine, ResumeCommandSurvivesTheShell) {
    Options o;
    o.url = "http://127.0.0.1:8080/a b/it's$HOME;`x`.bin";
    o.chunk = 4096;
    o.onlineCheck = true;
    const std::string path = "/tmp/dir with space/don't \"quote\" *.bin";
    const std::string cmd = resumeCommand(o, path);
    ASSERT_EQ(cmd.rfind("carvo-get --resume ", 0), 0u) << cmd;
    const std::string echoArgs = "printf '%s\\n'" + cmd.substr(std::string("carvo-get").size());
    test::ProcessResult r = test::runProcess({"/bin/sh", "-c", echoArgs});
    EXPECT_EQ(r.out, "--resume\n--chunk\n4096\n--online-check\n--\n" + o.url + "\n" + path + "\n");

    EXPECT_EQ(shellQuote("plain/path-1.bin"), "plain/path-1.bin");
    EXPECT_EQ(shellQuote(""), "''");
}

TEST(CarvoGetProgressLine, ShowsBarCountsAndTextsWithinTheWidth) {
    ProgressState s;
    s.percent = 50;
    s.received = 512 * 1024;
    s.fileSize = 1024 * 1024;
    s.rate = "9.09 Kb/s";
    s.timeLeft = "1 min 36 seg";
    s.status = "Puxando Arquivos...";
    EXPECT_EQ(renderProgress(s, 200),
              "[##########..........]  50%  512 KiB of 1.00 MiB  9.09 Kb/s  1 min 36 seg  "
              "Puxando Arquivos...");

    // A body longer than announced: the bar stays full, the number says what was raised.
    s.percent = 130;
    EXPECT_EQ(renderProgress(s, 200).substr(0, 27), "[####################] 130%");
    s.percent = -3;
    EXPECT_EQ(renderProgress(s, 200).substr(0, 22), "[....................]");

    // Size unknown (no probe, or 0): no bar, just what came.
    ProgressState unknown;
    unknown.received = 2048;
    unknown.status = "Conexão Aceita, Recebendo Informações.";
    EXPECT_EQ(renderProgress(unknown, 200), "2.00 KiB  Conexão Aceita, Recebendo Informações.");

    // Cut by characters, never inside one: "ã" is two bytes and one column.
    EXPECT_EQ(renderProgress(unknown, 16), "2.00 KiB  Conexã");
    EXPECT_EQ(truncateChars("ção", 1), "ç");
    EXPECT_EQ(truncateChars("ção", 0), "");
    EXPECT_EQ(truncateChars("abc", 10), "abc");
}

TEST(CarvoGetProgressLine, FormatsSizesAndRates) {
    EXPECT_EQ(formatBytes(0), "0 B");
    EXPECT_EQ(formatBytes(1023), "1023 B");
    EXPECT_EQ(formatBytes(1024), "1.00 KiB");
    EXPECT_EQ(formatBytes(1536), "1.50 KiB");
    EXPECT_EQ(formatBytes(35LL * 1024 * 1024 + 100 * 1024), "35.1 MiB");
    EXPECT_EQ(formatBytes(300LL * 1024 * 1024), "300 MiB");
    EXPECT_EQ(formatBytes(2147483647), "2.00 GiB");
    EXPECT_EQ(formatByteRate(1.5 * 1024 * 1024 * 1024), "1.50 GiB/s");
    EXPECT_EQ(formatByteRate(-1), "");
}

}  // namespace
}  // namespace carvo::cli
