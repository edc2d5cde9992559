#include "settings/profile_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

std::string Read(const std::filesystem::path& file, const char* section, const char* key,
                 const char* fallback = "default") {
    return ReadProfileString(file, section, key, fallback, 750);
}

std::string Fixture(const char* name) {
    return ReadFile(std::filesystem::path(BEAMCLOCK_TEST_FILES) / "settings" / name);
}

}  // namespace

class ProfileFile : public ::testing::Test {
  protected:
    TempDir dir;
    std::filesystem::path ini = dir / "Skyfix.ini";
};

TEST_F(ProfileFile, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Read(ini, "SerialSync", "comport", "None"), "None");
    EXPECT_EQ(WhyProfileUnreadable(ini), "");  // a missing file is no fault
    WriteFile(ini, "[Other]\ncomport=+COM3\n[SerialSync]\ntimeutc=True\n");
    EXPECT_EQ(WhyProfileUnreadable(ini), "");
    EXPECT_EQ(Read(ini, "Missing", "comport"), "default");
    EXPECT_EQ(Read(ini, "SerialSync", "comport"), "default");
}

TEST_F(ProfileFile, LookupIgnoresCaseAndTheFirstMatchWins) {
    WriteFile(ini, "[serialsync]\nCOMPORT=+COM3\ncomport=+COM4\n[SERIALSYNC]\nTimeUTC=True\n");
    EXPECT_EQ(Read(ini, "SerialSync", "comport"), "+COM3");
    EXPECT_EQ(Read(ini, "SerialSync", "timeutc"), "default");  // only the first section counts
}

TEST_F(ProfileFile, ValuesLoseSurroundingBlanksAndOnePairOfQuotes) {
    WriteFile(ini,
              "[S]\n  a =  spaced out \t\nb=\" COM3 \"\nc='x'\nd=\"\"inner\"\"\ne=\"open\nf=\n");
    EXPECT_EQ(Read(ini, "S", "a"), "spaced out");
    EXPECT_EQ(Read(ini, "S", "b"), " COM3 ");
    EXPECT_EQ(Read(ini, "S", "c"), "x");
    EXPECT_EQ(Read(ini, "S", "d"), "\"inner\"");
    EXPECT_EQ(Read(ini, "S", "e"), "\"open");
    EXPECT_EQ(Read(ini, "S", "f"), "");  // present but empty is not missing
}

TEST_F(ProfileFile, LongValuesAreCutToTheBuffer) {
    WriteFile(ini, "[S]\nk=" + std::string(800, 'v') + "\n");
    EXPECT_EQ(Read(ini, "S", "k"), std::string(749, 'v'));
    EXPECT_EQ(ReadProfileString(ini, "S", "missing", "abcdef", 4), "abc");
}

TEST_F(ProfileFile, AnyLineEndAByteOrderMarkAndNoFinalNewlineAreRead) {
    for (std::string eol : {"\n", "\r\n", "\r"}) {
        WriteFile(ini, "\xEF\xBB\xBF[S]" + eol + "a=1" + eol + "b=2");
        EXPECT_EQ(Read(ini, "S", "a"), "1");
        EXPECT_EQ(Read(ini, "S", "b"), "2");
    }
}

TEST_F(ProfileFile, BinaryGarbageAndHugeLinesAreJustText) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) {
        garbage += static_cast<char>((i * 7919) % 256);
    }
    using namespace std::string_literals;
    WriteFile(ini, garbage + "\n[S]\nk=v\0w\nbad=\xff\xfe\n"s + std::string(1 << 20, 'x') + "\n");
    EXPECT_EQ(Read(ini, "S", "k"), "v");  // a value ends at a NUL, as in C
    EXPECT_EQ(Read(ini, "S", "bad"), "\xff\xfe");
    EXPECT_TRUE(WriteProfileString(ini, "S", "NEW", "1"));
    EXPECT_EQ(Read(ini, "S", "new"), "1");
    EXPECT_EQ(ReadFile(ini).substr(0, garbage.size()), garbage);
}

TEST_F(ProfileFile, AFileThatIsNotAPlainFileReadsAsMissingAndIsNeverWritten) {
    std::filesystem::create_directory(ini);
    EXPECT_EQ(Read(ini, "S", "k"), "default");
    EXPECT_EQ(WhyProfileUnreadable(ini), "it is not a plain file");
    EXPECT_FALSE(WriteProfileString(ini, "S", "K", "v"));
    EXPECT_TRUE(std::filesystem::is_directory(ini));
}

TEST_F(ProfileFile, WriteCreatesTheFileAndTheSection) {
    ASSERT_TRUE(WriteProfileString(ini, "SerialSync", "TIMEUTC", "False"));
    ASSERT_TRUE(WriteProfileString(ini, "SerialSync", "TIMELOCAL", "True"));
    ASSERT_TRUE(WriteProfileString(ini, "Ports", "COM5", "/dev/ttyUSB9"));
    EXPECT_EQ(
        ReadFile(ini),
        NativeLines("[SerialSync]\nTIMEUTC=False\nTIMELOCAL=True\n\n[Ports]\nCOM5=/dev/ttyUSB9\n"));
}

TEST_F(ProfileFile, WriteChangesOnlyTheKeyItMeans) {
    const std::string before =
        "\xEF\xBB\xBF; kept comment\r\n[Other]\r\ncomport=keep\r\n\r\n[serialsync]\r\n"
        "  comport = +COM7  \r\ntimeutc=True\r\n\r\n[Later]\r\nx=1";
    WriteFile(ini, before);
    ASSERT_TRUE(WriteProfileString(ini, "SerialSync", "COMPORT", " COM3"));
    ASSERT_TRUE(WriteProfileString(ini, "SerialSync", "TIMELOCAL", "False"));
    EXPECT_EQ(ReadFile(ini),
              "\xEF\xBB\xBF; kept comment\r\n[Other]\r\ncomport=keep\r\n\r\n[serialsync]\r\n"
              "comport= COM3\r\ntimeutc=True\r\nTIMELOCAL=False\r\n\r\n[Later]\r\nx=1");
}

TEST_F(ProfileFile, WriteAddsToASectionAtTheEndOfAnUnterminatedFile) {
    WriteFile(ini, "[S]\na=1");
    ASSERT_TRUE(WriteProfileString(ini, "S", "B", "2"));
    ASSERT_TRUE(WriteProfileString(ini, "T", "C", "3"));
    EXPECT_EQ(ReadFile(ini), "[S]\na=1\nB=2\n\n[T]\nC=3\n");
}

TEST_F(ProfileFile, WriteRefusesTextsThatWouldBreakTheLayout) {
    WriteFile(ini, "[S]\na=1\n");
    EXPECT_FALSE(WriteProfileString(ini, "S", "A", "1\n[Evil]\nx=y"));
    EXPECT_FALSE(WriteProfileString(ini, "S", "A=B", "1"));
    EXPECT_FALSE(WriteProfileString(ini, "S]", "A", "1"));
    EXPECT_FALSE(WriteProfileString(ini, "S", "", "1"));
    EXPECT_FALSE(WriteProfileString(ini, "S", "[T]", "1"));
    EXPECT_FALSE(WriteProfileString(ini, "S", ";A", "1"));
    EXPECT_FALSE(WriteProfileString(ini, " S", "A", "1"));
    EXPECT_EQ(ReadFile(ini), "[S]\na=1\n");
}

TEST_F(ProfileFile, WriteFollowsALinkAndKeepsIt) {
#ifdef _WIN32
    GTEST_SKIP() << "links need a privilege Windows users seldom have";
#endif
    std::filesystem::create_directory(dir / "real");
    WriteFile(dir / "real" / "target.ini", "[S]\na=1\n");
    std::filesystem::create_symlink("real/target.ini", ini);
    ASSERT_TRUE(WriteProfileString(ini, "S", "A", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(ini));
    EXPECT_EQ(ReadFile(dir / "real" / "target.ini"), "[S]\na=2\n");
}

TEST_F(ProfileFile, WriteThatCannotHappenLeavesNoTrace) {
    WriteFile(dir / "plain", "not a directory");
    std::filesystem::path impossible = dir / "plain" / "Skyfix.ini";  // even root cannot
    EXPECT_FALSE(WriteProfileString(impossible, "S", "K", "v"));
    EXPECT_EQ(ReadProfileString(impossible, "S", "k", "fallback", 750), "fallback");
    EXPECT_EQ(ReadFile(dir / "plain"), "not a directory");
}

TEST_F(ProfileFile, WriteLeavesNoTemporaryFilesBehind) {
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(WriteProfileString(ini, "S", "K", std::to_string(i)));
    }
    int entries = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

// A file as Notepad saves it in "Unicode", with a comment outside the Basic Multilingual Plane,
// and the same file once Wine's GetPrivateProfileStringW had read "+COM5" from it and
// WritePrivateProfileStringW(L"SerialSync", L"COMPORT", L"+COM6", file) had changed it.
TEST_F(ProfileFile, AUtf16FileIsReadAndWrittenAsWindowsDoes) {
    WriteFile(ini, Fixture("notepad_utf16.ini"));
    EXPECT_EQ(Read(ini, "SerialSync", "comport"), "+COM5");
    EXPECT_EQ(Read(ini, "Ports", "com5"), "/dev/pts/7");
    ASSERT_TRUE(WriteProfileString(ini, "SerialSync", "COMPORT", "+COM6"));
    EXPECT_FALSE(WriteProfileString(ini, "S", "a", "\xFF"));  // not UTF-8: no character to store
    // Wine writes the file afresh from what it parsed and drops the blank line before [Ports];
    // ours keeps every line it does not change.
    std::string expected = Fixture("notepad_utf16_by_wine.ini");
    expected.insert(expected.find(std::string("[\0P", 3)), std::string("\r\0\n\0", 4));
    EXPECT_EQ(ReadFile(ini), expected);
}

TEST_F(ProfileFile, TextTheReaderCannotDecodeIsNeitherReadNorWrittenInto) {
    using namespace std::string_literals;
    const std::pair<std::string, const char*> cases[] = {
        {"\xFE\xFF\0[\0S\0]\0\n\0k\0=\0v"s, "it is UTF-16BE text"},
        {"\xFF\xFE\0\0[\0\0\0S\0\0\0]\0\0\0"s, "it is UTF-32LE text"},
        {Utf16Le("[S]\nk=v\n") + "\n", "cut off in the middle of a character"},
        {Utf16Le("[S]\nk=v") + "\x3D\xD8\n\0"s, "half a surrogate pair"},
    };
    for (const auto& [bytes, why] : cases) {
        WriteFile(ini, bytes);
        EXPECT_EQ(Read(ini, "S", "k"), "default");
        EXPECT_THAT(WhyProfileUnreadable(ini), ::testing::HasSubstr(why));
        EXPECT_FALSE(WriteProfileString(ini, "S", "K", "w"));
        EXPECT_EQ(ReadFile(ini), bytes);
    }
}
