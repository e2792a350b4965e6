// File-transfer bookkeeping on one station, the peer played by the test.
#include <gtest/gtest.h>

#include "link_test_support.h"

namespace kavra::link::test {
namespace {

void AckAll(Harness& h, std::uint32_t pieces) {
    std::vector<std::uint16_t> all(pieces);
    for (std::uint32_t i = 0; i < pieces; ++i) all[i] = static_cast<std::uint16_t>(i);
    for (std::size_t i = 0; i < all.size(); i += 39) {
        std::array<std::uint8_t, 59> packed{};
        const std::size_t bytes =
            PackBlockNumbers(std::span<const std::uint16_t>(all.data() + i, std::min<std::size_t>(39, all.size() - i)), packed);
        h.Receive(ControlCode::BlockAck, std::span<const std::uint8_t>(packed.data(), bytes));
    }
}

TEST(SendFile, DialogTextOfferAndCancel) {
    Harness h;
    h.ConnectAsCaller();
    const std::string long_name(70, 'n');
    h.files.files["/data/" + long_name] = Pattern(1234);
    h.ui.next_file = "/data/" + long_name;
    h.session.SendFileClick();
    EXPECT_EQ(h.ui.question_caption, "File send request...");
    EXPECT_EQ(h.ui.question_text, "File '/data/" + long_name + "' has size 1234 bytes. Are you want transfer?");
    h.session.AnswerQuestion(false);
    EXPECT_EQ(h.session.State(), LinkState::Connected);
    EXPECT_EQ(h.session.BlockCount(), 21u);  // prepared all the same

    h.ui.next_file = "/data/" + long_name;
    h.session.SendFileClick();
    h.session.AnswerQuestion(true);
    EXPECT_EQ(h.session.State(), LinkState::Offering);
    EXPECT_EQ(h.ui.log.back().text, "Request for sending file '" + long_name + "' to 'EF2GH'...");
    EXPECT_FALSE(h.session.CommandEnabled(Command::SendFile));
    ReceivedBlock offer;
    ASSERT_EQ(ParseLinkBlock(h.session.PendingControlBlock(), offer), ParseResult::Ok);
    EXPECT_EQ(offer.code, static_cast<int>(ControlCode::FileOffer));
    EXPECT_EQ(offer.length, 59);
    EXPECT_EQ(offer.payload[0] | offer.payload[1] << 8, 1234);
    EXPECT_EQ(std::string(offer.payload.begin() + 4, offer.payload.end()), std::string(55, 'n'));
}

TEST(SendFile, UnreadableFileIsReported) {
    Harness h;
    h.ConnectAsCaller();
    h.ui.next_file = "/nowhere/x.bin";
    h.session.SendFileClick();
    EXPECT_EQ(h.ui.log.back().text, "Can't open file '/nowhere/x.bin'");
    EXPECT_EQ(h.ui.log.back().kind, static_cast<int>(LogKind::Error));
    EXPECT_EQ(h.session.OpenQuestion(), Question::None);
    EXPECT_EQ(h.session.State(), LinkState::Connected);
}

TEST(SendFile, OnlyFromConnected) {
    Harness h;
    h.files.files["/f"] = Pattern(10);
    h.ui.next_file = "/f";
    h.session.SendFileClick();
    EXPECT_EQ(h.session.OpenQuestion(), Question::None);
    // The link ends while the question is open: the late OK offers nothing.
    h.ConnectAsCaller();
    h.session.SendFileClick();
    ASSERT_EQ(h.session.OpenQuestion(), Question::SendFile);
    h.session.AnswerQuestion(false);
    h.ui.next_file = "/f";
    h.session.SendFileClick();
    h.Receive(ControlCode::DisconnectNotice, CallsignPayload("EF2GH"));  // (not handled: question open)
    EXPECT_EQ(h.session.State(), LinkState::Connected);
    h.session.Disconnect1Click();
    EXPECT_EQ(h.session.OpenQuestion(), Question::None);
    h.session.AnswerQuestion(true);
    EXPECT_EQ(h.session.State(), LinkState::Closing);
}

TEST(SendFile, LargerThanTheNumberingIsCutAndSaysSo) {
    Harness h;
    h.ConnectAsCaller();
    h.files.patterned_files["/big.iso"] = 5'000'000'000ull;
    h.ui.next_file = "/big.iso";
    h.session.SendFileClick();
    EXPECT_EQ(h.ui.log.back().text,
              "File '/big.iso' is larger than 241664 bytes: only its first 241664 bytes can be sent");
    EXPECT_EQ(h.ui.question_text, "File '/big.iso' has size 5000000000 bytes. Are you want transfer?");
    h.session.AnswerQuestion(true);
    EXPECT_EQ(h.session.TransferSize(), 241664u);
    EXPECT_EQ(h.session.BlockCount(), 4096u);
    ReceivedBlock offer;
    ASSERT_EQ(ParseLinkBlock(h.session.PendingControlBlock(), offer), ParseResult::Ok);
    const std::uint32_t offered = static_cast<std::uint32_t>(offer.payload[0] | offer.payload[1] << 8 | offer.payload[2] << 16) |
                                  static_cast<std::uint32_t>(offer.payload[3]) << 24;
    EXPECT_EQ(offered, 0xFFFFFFFFu);  // the 32-bit field holds no more
    h.ReceiveFileReply();
    h.clock.now += 1000;
    AckAll(h, 4096);
    EXPECT_EQ(h.session.State(), LinkState::EndingTransfer);
    // 241664 bytes in one second: the speed of what was moved.
    EXPECT_EQ(h.session.AverageSpeed(), 241664u * 8u);
    EXPECT_EQ(h.ui.log[h.ui.log.size() - 2].text, "File 'big.iso' sended succesfully, average speed 1933312 bits/sec");
    EXPECT_EQ(h.ui.log.back().text,
              "File 'big.iso' was cut: only the first 241664 of 5000000000 bytes were sent");
}

TEST(Speed, ExampleAndSameMillisecond) {
    Harness h;
    h.ConnectAsCaller();
    h.StartSending(Pattern(10000));
    h.clock.now += 50000;
    AckAll(h, 170);
    EXPECT_EQ(h.ui.log.back().text, "File 'file.bin' sended succesfully, average speed 1600 bits/sec");

    Harness same;
    same.ConnectAsCaller();
    same.StartSending(Pattern(100));
    AckAll(same, 2);  // the clock has not moved
    EXPECT_EQ(same.session.AverageSpeed(), 800u * 1000u);
}

TEST(EmptyFile, SenderCompletesAtOnceAndReceiverOnTransferEnd) {
    Harness tx;
    tx.ConnectAsCaller();
    tx.StartSending({});
    EXPECT_EQ(tx.session.State(), LinkState::EndingTransfer);
    EXPECT_EQ(tx.ui.log.back().text, "File 'file.bin' sended succesfully, average speed 0 bits/sec");
    ASSERT_TRUE(tx.Turn());
    EXPECT_EQ(tx.Last().blocks[0].code, static_cast<int>(ControlCode::TransferEnd));
    EXPECT_EQ(tx.session.State(), LinkState::Connected);
    tx.session.StatusRefresh();
    EXPECT_EQ(tx.ui.file_progress, 0);

    Harness rx;
    rx.ConnectAsCallee();
    rx.ReceiveOffer(0, "empty.txt");
    EXPECT_EQ(rx.session.State(), LinkState::FileAccepted);
    EXPECT_TRUE(rx.files.files.contains("RECEIVED/empty.txt"));
    rx.Receive(ControlCode::Data, Pattern(1), 0);  // no piece 0 in an empty file
    EXPECT_TRUE(rx.files.files["RECEIVED/empty.txt"].empty());
    rx.Receive(ControlCode::TransferEnd, CallsignPayload("EF2GH"));
    EXPECT_EQ(rx.ui.log.back().text, "File 'empty.txt' received succesfully, average speed 0 bits/sec");
}

TEST(Receiving, APieceArrivingTwiceIsWrittenOnceAndAcknowledgedTwice) {
    Harness h;
    h.ConnectAsCallee();
    h.ReceiveOffer(100, "two.bin");
    EXPECT_EQ(h.ui.log.back().text, "Receiving file 'two.bin', size 100 bytes, from 'EF2GH'...");
    EXPECT_TRUE(h.files.files["RECEIVED/two.bin"].empty());  // created empty at once
    const auto data = Pattern(100);
    h.ReceiveData(1, std::span<const std::uint8_t>(data).subspan(59));
    h.ReceiveData(1, std::span<const std::uint8_t>(data).subspan(59));
    EXPECT_EQ(h.files.writes, 1);
    EXPECT_EQ(h.session.PendingAcks(), 2u);
    EXPECT_EQ(h.session.FileProgress(), 50);
    EXPECT_TRUE(h.session.CommandEnabled(Command::StopTransfer));
    h.ReceiveData(0, std::span<const std::uint8_t>(data).first(59));
    EXPECT_EQ(h.files.files["RECEIVED/two.bin"], data);
    EXPECT_EQ(h.session.FileProgress(), 100);
}

TEST(Receiving, PiecesThatCannotBelongAreNotWritten) {
    Harness h;
    h.ConnectAsCallee();
    h.ReceiveOffer(100, "two.bin");
    h.ReceiveData(2, Pattern(59));                                   // beyond the offered size
    h.ReceiveData(0, Pattern(58));                                   // a short inner piece
    h.ReceiveData(1, Pattern(59));                                   // the last piece is 41 bytes
    EXPECT_EQ(h.files.writes, 0);
    EXPECT_EQ(h.session.PendingAcks(), 0u);
    EXPECT_TRUE(h.files.files["RECEIVED/two.bin"].empty());
    h.ReceiveData(1, Pattern(41));
    EXPECT_EQ(h.files.files["RECEIVED/two.bin"].size(), 100u);
}

TEST(Receiving, AcceptedByTheUserWithTheOfferedNameShown) {
    LinkSettings s = Settings("AB1CD");
    s.auto_receive = AutoAccept::Never;
    Harness h(s);
    h.ConnectAsCallee();
    h.ReceiveOffer(1000, "doc.txt");
    EXPECT_EQ(h.ui.question_caption, "File receive request...");
    EXPECT_EQ(h.ui.question_text, "'EF2GH' sending file 'doc.txt', size 1000 bytes. Are you want receive?");
    h.session.AnswerQuestion(true);
    EXPECT_EQ(h.session.State(), LinkState::FileAccepted);
    ReceivedBlock reply;
    ASSERT_EQ(ParseLinkBlock(h.session.PendingControlBlock(), reply), ParseResult::Ok);
    EXPECT_EQ(ReadCallsignField(reply.payload), "AB1CD");
    EXPECT_EQ(reply.payload[8], 255);
}

// The far station still repeats its acceptance of an offer this station gave up; the operator
// offers another file.  That stale reply must not start the new transfer: the far station would
// write its pieces into the old file.
TEST(StaleOffers, AReplyFromBeforeTheOfferWentOutIsNotTaken) {
    Harness h;
    h.ConnectAsCaller();
    h.Offer(Pattern(500), "/two.bin");
    ASSERT_EQ(h.session.State(), LinkState::Offering);
    const auto accepted = CallsignPayload("EF2GH", {}, 255);
    // Heard before the offer was sent, and during the offer's own burst.
    h.ReceiveInBurst(ControlCode::FileReply, accepted);
    EXPECT_EQ(h.session.State(), LinkState::Offering);
    ASSERT_TRUE(h.Turn());
    h.clock.now += h.sender.duration_ms / 2;
    h.ReceiveInBurst(ControlCode::FileReply, accepted);
    EXPECT_EQ(h.session.State(), LinkState::Offering);
    // The reply to this offer comes after it.
    h.clock.now += h.sender.duration_ms;
    h.ReceiveInBurst(ControlCode::FileReply, accepted);
    EXPECT_EQ(h.session.State(), LinkState::SendingFile);
}

TEST(StaleOffers, AnotherOfferEndsTheTransferThatWasGivenUp) {
    Harness h;
    h.ConnectAsCallee();
    h.ReceiveOffer(200, "one.bin");
    ASSERT_EQ(h.session.State(), LinkState::FileAccepted);
    // The same offer again: the sender has not heard the acceptance yet.
    const std::size_t lines = h.ui.log.size();
    h.ReceiveOffer(200, "one.bin");
    EXPECT_EQ(h.session.State(), LinkState::FileAccepted);
    EXPECT_EQ(h.ui.log.size(), lines);
    // Another file: the sender gave the first one up.
    h.ReceiveOffer(300, "two.bin");
    EXPECT_EQ(h.session.State(), LinkState::FileAccepted);
    EXPECT_TRUE(h.ui.HasLog("File 'one.bin' is NOT completed"));
    EXPECT_TRUE(h.ui.HasLog("Receiving file 'two.bin', size 300 bytes, from 'EF2GH'..."));
    EXPECT_EQ(h.session.BlockCount(), 6u);
    // While receiving, an offer means the sender has left this transfer (its TransferEnd lost):
    // what arrived stays, reported incomplete, and no piece of the new file goes into it.
    h.ReceiveData(0, Pattern(59, 2));
    ASSERT_EQ(h.session.State(), LinkState::ReceivingFile);
    h.ReceiveOffer(59, "three.bin");
    EXPECT_TRUE(h.ui.HasLog("File 'two.bin' is NOT completed"));
    EXPECT_EQ(h.session.ReceiveName(), "three.bin");
    h.ReceiveData(0, Pattern(59, 3));
    EXPECT_EQ(h.files.files["RECEIVED/two.bin"], Pattern(59, 2));
    EXPECT_EQ(h.files.files["RECEIVED/three.bin"], Pattern(59, 3));
}

TEST(Completion, ABlockAckAfterCompletionRepeatsTheSuccessAndTheTransferEnd) {
    Harness h;
    h.ConnectAsCaller();
    h.StartSending(Pattern(3 * 59));
    AckAll(h, 3);
    ASSERT_EQ(h.session.State(), LinkState::EndingTransfer);
    ASSERT_TRUE(h.Turn());
    EXPECT_EQ(h.Last().blocks[0].code, static_cast<int>(ControlCode::TransferEnd));
    ASSERT_EQ(h.session.State(), LinkState::Connected);
    EXPECT_TRUE(h.session.CommandEnabled(Command::SendFile));
    EXPECT_EQ(h.ui.CountLog("sended succesfully"), 1);
    AckAll(h, 1);
    EXPECT_EQ(h.ui.CountLog("sended succesfully"), 2);
    EXPECT_EQ(h.session.State(), LinkState::EndingTransfer);
}

TEST(Completion, ABlockAckInConnectedWithoutASentFileIsIgnored) {
    Harness h;
    h.ConnectAsCallee();
    AckAll(h, 1);
    EXPECT_EQ(h.session.State(), LinkState::Connected);
    EXPECT_FALSE(h.ui.HasLog("succesfully"));
}

TEST(Completion, AReceiverWithEveryPieceAcknowledgesAgainAndAnswersSooner) {
    Harness h;
    h.ConnectAsCallee();
    h.ReceiveOffer(2 * 59, "f.bin");
    h.ReceiveData(0, Pattern(59));
    EXPECT_EQ(h.session.ReplyDelay(), 41000u);
    h.ReceiveData(1, Pattern(59));
    EXPECT_EQ(h.session.ReplyDelay(), 4000u);
    ASSERT_TRUE(h.Turn());
    EXPECT_EQ(h.Last().Count(ControlCode::BlockAck), 1);
    // The sender's TransferEnd is lost: the next turn acknowledges the last piece again.
    ASSERT_TRUE(h.Turn());
    ASSERT_EQ(h.Last().Count(ControlCode::BlockAck), 1);
    std::array<std::uint16_t, 39> n{};
    ASSERT_EQ(UnpackBlockNumbers(std::span<const std::uint8_t>(h.Last().blocks[1].payload.data(), h.Last().blocks[1].length), n), 1u);
    EXPECT_EQ(n[0], 1);
}

TEST(StoppingTransfer, ReceiverThatStoppedAnswersStrayDataWithTransferEnd) {
    Harness h;
    h.ConnectAsCallee();
    h.ReceiveOffer(10 * 59, "f.bin");
    h.ReceiveData(0, Pattern(59));
    h.session.StopTransferClick();
    EXPECT_EQ(h.ui.log.back().text, "File 'f.bin' is NOT completed");
    ASSERT_TRUE(h.Turn());
    EXPECT_EQ(h.Last().blocks[0].code, static_cast<int>(ControlCode::TransferEnd));
    ASSERT_EQ(h.session.State(), LinkState::Connected);
    h.ReceiveData(3, Pattern(59));  // the sender missed it
    EXPECT_EQ(h.session.State(), LinkState::EndingTransfer);
    EXPECT_EQ(h.files.writes, 1);
    EXPECT_EQ(h.ui.CountLog("NOT completed"), 1);
}

TEST(StoppingTransfer, SenderStopBeforeAnyAcknowledgementIsNotComplete) {
    Harness h;
    h.ConnectAsCaller();
    h.StartSending(Pattern(59));
    h.session.StopTransferClick();
    EXPECT_EQ(h.ui.log.back().text, "Transfer of file 'file.bin' is NOT completed");
    EXPECT_EQ(h.session.PollInterval(), 12000u);
    EXPECT_FALSE(h.session.CommandEnabled(Command::StopTransfer));
}

}  // namespace
}  // namespace kavra::link::test
