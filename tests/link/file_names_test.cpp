// Names offered from the air, the file-system port on disk, and the single-byte text codec.
#include <gtest/gtest.h>

#include <iconv.h>

#include <filesystem>
#include <fstream>

#include "link/disk_file_system.h"
#include "link/file_names.h"
#include "link/text_1251.h"
#include "link_test_support.h"

namespace kavra::link {
namespace {

TEST(SafeReceiveName, KeepsHarmlessNamesAndDisarmsTheRest) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"report.txt", "report.txt"},
        {"\xCE\xF2\xF7\xE5\xF2.doc", "\xCE\xF2\xF7\xE5\xF2.doc"},  // Cyrillic in 1251
        {"../../etc/passwd", "passwd"},
        {"..\\..\\boot.ini", "boot.ini"},
        {"/etc/shadow", "shadow"},
        {"C:\\Windows\\win.ini", "win.ini"},
        {"C:autoexec.bat", "autoexec.bat"},
        {"..", "noname"},
        {".", "noname"},
        {"dir/", "noname"},
        {"", "noname"},
        {"a\nb\rc\x01", "a_b_c_"},
        {"what?.txt", "what_.txt"},
        {"a<b>c|d\"e*f:g", "a_b_c_d_e_f_g"},
        {"trailing. . ", "trailing"},
        {"CON", "_CON"},
        {"nul.txt", "_nul.txt"},
        {"com1.log", "_com1.log"},
        {"COM10", "COM10"},
        {"console", "console"},
        {"x\x98y", "x_y"},
    };
    for (const auto& [offered, safe] : cases) EXPECT_EQ(SafeReceiveName(offered), safe) << offered;
    EXPECT_EQ(FileNameWithoutFolder("C:\\a\\b/c.txt"), "c.txt");
    EXPECT_EQ(VisibleName("a\tb"), "a_b");
}

TEST(Text1251, AgreesWithIconvForEveryByte) {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int b = 1; b < 256; ++b) {
        if (b == 0x98) continue;  // unassigned in 1251
        char in[1] = {static_cast<char>(b)};
        char out[8] = {};
        char* pin = in;
        char* pout = out;
        std::size_t left_in = 1, left_out = sizeof(out);
        ASSERT_NE(iconv(cd, &pin, &left_in, &pout, &left_out), static_cast<std::size_t>(-1)) << b;
        const std::string expected(out, sizeof(out) - left_out);
        const std::string single(1, static_cast<char>(b));
        EXPECT_EQ(Cp1251ToUtf8(single), expected) << b;
        EXPECT_EQ(Utf8ToCp1251(expected), single) << b;
    }
    iconv_close(cd);
}

TEST(Text1251, RefusesWhatItCannotHold) {
    EXPECT_FALSE(Utf8ToCp1251("\xE4\xB8\xAD"));  // a Han character
    EXPECT_FALSE(Utf8ToCp1251("\xC3\xA9"));      // e acute: not in 1251
    EXPECT_FALSE(Utf8ToCp1251("\xD0"));          // cut short
    EXPECT_FALSE(Utf8ToCp1251("\xC0\x80"));      // overlong
    EXPECT_FALSE(Utf8ToCp1251("\xFF"));
    EXPECT_EQ(Utf8ToCp1251("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"), "\xCF\xF0\xE8\xE2\xE5\xF2");
}

// Offers with hostile names, accepted by a station that writes to a real folder: nothing is
// created or changed outside "RECEIVED".
class DiskOffers : public ::testing::Test {
protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() /
               ("kavra_link_disk_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "work" / "RECEIVED");
        std::ofstream(root / "outside.txt") << "keep";
        std::ofstream(root / "work" / "settings.ini") << "keep";
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    std::vector<std::string> TreeOutsideReceived() const {
        std::vector<std::string> entries;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
            const std::string rel = std::filesystem::relative(e.path(), root).string();
            if (rel.rfind("work/RECEIVED/", 0) != 0) entries.push_back(rel);
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }

    std::filesystem::path root;
};

TEST_F(DiskOffers, HostileNamesStayInsideReceived) {
    DiskFileSystem disk(root / "work");
    test::Harness h(test::Settings("AB1CD"), &disk);
    h.ConnectAsCallee();
    const auto before = TreeOutsideReceived();
    const std::vector<std::string> names{"../outside.txt", "../../outside.txt", "..\\settings.ini", "/tmp/x",
                                         "..", "", "C:\\boot.ini", "a\nb", "settings.ini"};
    const auto piece = test::Pattern(10);
    for (const std::string& name : names) {
        h.ReceiveOffer(10, name);
        ASSERT_EQ(h.session.State(), LinkState::FileAccepted) << name;
        h.ReceiveData(0, piece);
        h.Receive(ControlCode::TransferEnd, test::CallsignPayload("EF2GH"));
        ASSERT_EQ(h.session.State(), LinkState::Connected) << name;
        EXPECT_TRUE(h.ui.HasLog("received succesfully")) << name;
        const auto stored = root / "work" / "RECEIVED" / SafeReceiveName(name);
        EXPECT_TRUE(std::filesystem::is_regular_file(stored)) << name;
        EXPECT_EQ(std::filesystem::file_size(stored), 10u) << name;
    }
    EXPECT_EQ(TreeOutsideReceived(), before);
    std::ifstream in(root / "outside.txt");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "keep");
    EXPECT_TRUE(h.ui.HasLog("Offered file name '../outside.txt' is stored as 'outside.txt'"));
    EXPECT_TRUE(h.ui.HasLog("Offered file name 'a_b' is stored as 'a_b'"));
}

TEST_F(DiskOffers, ASymbolicLinkInReceivedIsReplacedNotFollowed) {
    std::filesystem::create_symlink(root / "outside.txt", root / "work" / "RECEIVED" / "link.txt");
    DiskFileSystem disk(root / "work");
    test::Harness h(test::Settings("AB1CD"), &disk);
    h.ConnectAsCallee();
    h.ReceiveOffer(10, "link.txt");
    h.ReceiveData(0, test::Pattern(10));
    EXPECT_FALSE(std::filesystem::is_symlink(root / "work" / "RECEIVED" / "link.txt"));
    EXPECT_EQ(std::filesystem::file_size(root / "outside.txt"), 4u);
}

TEST_F(DiskOffers, CyrillicNamesBecomeUtf8OnDisk) {
    DiskFileSystem disk(root / "work");
    test::Harness h(test::Settings("AB1CD"), &disk);
    h.ConnectAsCallee();
    h.ReceiveOffer(3, "\xCF\xF0\xE8\xE2\xE5\xF2.txt");
    h.ReceiveData(0, test::Pattern(3));
    EXPECT_TRUE(std::filesystem::exists(root / "work" / "RECEIVED" /
                                        std::filesystem::path(u8"\u041f\u0440\u0438\u0432\u0435\u0442.txt")));
}

TEST_F(DiskOffers, AFileThatCannotBeCreatedIsRefusedAndReported) {
    std::filesystem::remove_all(root / "work" / "RECEIVED");  // no folder to write into
    DiskFileSystem disk(root / "work");
    test::Harness h(test::Settings("AB1CD"), &disk);
    h.ConnectAsCallee();
    h.ReceiveOffer(10, "a.txt");
    EXPECT_EQ(h.session.State(), LinkState::RefusingFile);
    EXPECT_TRUE(h.ui.HasLog("Error! Can't create file 'RECEIVED/a.txt'"));
    ReceivedBlock reply;
    ASSERT_EQ(ParseLinkBlock(h.session.PendingControlBlock(), reply), ParseResult::Ok);
    EXPECT_EQ(reply.payload[8], 0);
}

TEST_F(DiskOffers, SendingReadsOnlyTheFirst241664Bytes) {
    {
        std::ofstream big(root / "big.bin", std::ios::binary);
        const std::vector<char> chunk(100000, 'z');
        for (int i = 0; i < 3; ++i) big.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    DiskFileSystem disk(root);
    std::vector<std::uint8_t> head;
    std::uint64_t size = 0;
    ASSERT_TRUE(disk.ReadHead("big.bin", kMaxTransferBytes, head, size));
    EXPECT_EQ(size, 300000u);
    EXPECT_EQ(head.size(), kMaxTransferBytes);
    EXPECT_FALSE(disk.ReadHead("missing.bin", 10, head, size));
    EXPECT_FALSE(disk.WriteAt("missing.bin", 0, head));
}

}  // namespace
}  // namespace kavra::link
