#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Formatting.h"
#include "automation/ComError.h"

using namespace carvo;

TEST(FormatRate, KeepsTheOldExamplesAndHasNoGaps) {
    EXPECT_EQ(FormatRate(0, '.'), "0 Bytes/s");
    EXPECT_EQ(FormatRate(512.4, '.'), "512 Bytes/s");
    EXPECT_EQ(FormatRate(1022.5, '.'), "1022 Bytes/s");  // half to even
    EXPECT_EQ(FormatRate(1023, '.'), "1023 Bytes/s");
    EXPECT_EQ(FormatRate(1024, '.'), "1 Kb/s");
    EXPECT_EQ(FormatRate(1536, '.'), "1.5 Kb/s");
    EXPECT_EQ(FormatRate(9309.09, '.'), "9.09 Kb/s");
    EXPECT_EQ(FormatRate(1048570, '.'), "1023.99 Kb/s");
    // Formerly blank: between 1023 and 1024, and every rate above 1 MiB/s. The unit follows
    // the rounded number: nothing reads 1024 of a unit.
    EXPECT_EQ(FormatRate(1023.5, '.'), "1 Kb/s");
    EXPECT_EQ(FormatRate(1023.9, '.'), "1 Kb/s");
    EXPECT_EQ(FormatRate(1048575, '.'), "1 Mb/s");
    EXPECT_EQ(FormatRate(1048576, '.'), "1 Mb/s");
    EXPECT_EQ(FormatRate(2000000, '.'), "1.91 Mb/s");
    EXPECT_EQ(FormatRate(150.0 * 1048576, '.'), "150 Mb/s");
    EXPECT_EQ(FormatRate(-1, '.'), "");
    EXPECT_EQ(FormatRate(std::nan(""), '.'), "");
    EXPECT_EQ(FormatRate(1536, ','), "1,5 Kb/s");
}

TEST(FormatTimeLeft, SecondsMinutesAndHoursForms) {
    EXPECT_EQ(FormatTimeLeft(42.4f), "42 seg");
    EXPECT_EQ(FormatTimeLeft(0), "0 seg");
    EXPECT_EQ(FormatTimeLeft(58.5f), "59 seg");  // halves away from zero in the seconds form
    EXPECT_EQ(FormatTimeLeft(59), "59 seg");
    EXPECT_EQ(FormatTimeLeft(60), "1 min 0 seg");
    EXPECT_EQ(FormatTimeLeft(96.421875f), "1 min 36 seg");
    EXPECT_EQ(FormatTimeLeft(119.6f), "1 min 0 seg");
    EXPECT_EQ(FormatTimeLeft(3599), "59 min 59 seg");
    EXPECT_EQ(FormatTimeLeft(3600), "1 hr 0 min");
    EXPECT_EQ(FormatTimeLeft(5000), "1 hr 23 min");
    EXPECT_EQ(FormatTimeLeft(59.5f), "0 hr 1 min");
    EXPECT_EQ(FormatTimeLeft(3599.5f), "0 hr 0 min");
    EXPECT_EQ(FormatTimeLeft(-100), "-1 hr -2 min");
    EXPECT_THROW(FormatTimeLeft(std::numeric_limits<float>::infinity()), ComError);
    EXPECT_THROW(FormatTimeLeft(1e12f), ComError);
}

TEST(KeepTypeName, TakesTheExtensionFromTheLastSixCharacters) {
    EXPECT_EQ(KeepTypeName("http://h/pub/setup.exe", "C:\\Arquivo.tmp"), "C:\\Arquivo.exe");
    EXPECT_EQ(KeepTypeName("http://h/pub/pacote.zip", "C:\\Arquivo.tmp"), "C:\\Arquivo.zip");
    EXPECT_EQ(KeepTypeName("http://h/a.tar.gz", "/tmp/file.bin"), "/tmp/file.gz");
    // No "." in the save location's last six characters: the extension alone.
    EXPECT_EQ(KeepTypeName("http://h/setup.exe", "/tmp/download"), "exe");
    // No "." in the URL's last six: the whole URL is the "extension".
    EXPECT_EQ(KeepTypeName("http://h/setup", "/tmp/a.tmp"), "/tmp/a.http://h/setup");
    // Characters, not bytes: an accented name keeps its letters whole.
    EXPECT_EQ(KeepTypeName("http://h/ação.çãõ", "/tmp/ç.tmp"), "/tmp/ç.çãõ");
    EXPECT_EQ(KeepTypeName("abcdef", "/tmp/a.tmp"), "/tmp/a.abcdef");
    EXPECT_THROW(KeepTypeName("a.exe", "/tmp/a.tmp"), ComError);
    EXPECT_THROW(KeepTypeName("http://h/a.exe", "a.tmp"), ComError);
}

TEST(GFN, ReturnsTheTextAfterTheLastSlash) {
    EXPECT_EQ(GFN("http://h/dir/setup.exe"), "setup.exe");
    EXPECT_EQ(GFN("setup.exe"), "setup.exe");
    EXPECT_EQ(GFN("http://h/dir/"), "");
    EXPECT_EQ(GFN("http://h/get?f=a/b.exe"), "b.exe");
    EXPECT_EQ(GFN(""), "");
}
