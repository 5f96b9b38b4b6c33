#include "device/command_reply.h"

#include <gtest/gtest.h>

#include <random>

#include "device/frame_sync.h"
#include "device/reply_end_rules.h"
#include "test_frames.h"

namespace {

std::vector<uint8_t> Stream(uint16_t firstTag, int frames) {
    std::vector<uint8_t> stream;
    for (int i = 0; i < frames; ++i) {
        const auto frame = TaggedFrame(static_cast<uint16_t>(firstTag + i));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

void FeedInChunks(CCommandReply& reply, const std::vector<uint8_t>& bytes, size_t chunk) {
    for (size_t pos = 0; pos < bytes.size(); pos += chunk) {
        reply.Collect(static_cast<int>(std::min(chunk, bytes.size() - pos)), bytes.data() + pos);
    }
}

std::vector<uint16_t> Tags(const ReplyRecorder& recorder) {
    std::vector<uint16_t> tags;
    for (const auto& frame : recorder.bytes) {
        tags.push_back(TagOf(frame.data()));
    }
    return tags;
}

TEST(FrameCollector, ReportsEveryFrameAtItsLastByteForAnyChunkSize) {
    const auto stream = Stream(1, 3);
    std::vector<size_t> sizes;
    for (size_t size = 1; size <= 1023; ++size) {
        sizes.push_back(size);
    }
    sizes.push_back(2047);
    for (size_t size : sizes) {
        ReplyRecorder recorder;
        CCommandReply reply("K", 'K', ReplyRecorder::Callback, &recorder);
        size_t fed = 0;
        size_t reportedAt[3] = {};
        for (size_t pos = 0; pos < stream.size(); pos += size) {
            const size_t n = std::min(size, stream.size() - pos);
            const size_t before = recorder.bytes.size();
            reply.Collect(static_cast<int>(n), stream.data() + pos);
            fed += n;
            for (size_t i = before; i < recorder.bytes.size(); ++i) {
                reportedAt[i] = fed;
            }
        }
        ASSERT_EQ(Tags(recorder), (std::vector<uint16_t>{1, 2, 3})) << "chunk " << size;
        for (size_t i = 0; i < 3; ++i) {
            // Reported in the chunk that held the frame's last byte.
            EXPECT_GE(reportedAt[i], (i + 1) * kFrameBlockSize) << "chunk " << size;
            EXPECT_LT(reportedAt[i], (i + 1) * kFrameBlockSize + size) << "chunk " << size;
            EXPECT_EQ(recorder.texts[i], "Frame data...");
            EXPECT_EQ(recorder.bytes[i].size(), static_cast<size_t>(kFrameBlockSize));
        }
    }
}

TEST(FrameCollector, IgnoresChunksOfTwoKilobytesOrMore) {
    const auto stream = Stream(1, 2);
    ReplyRecorder recorder;
    CCommandReply reply("K", 'K', ReplyRecorder::Callback, &recorder);
    reply.Collect(2048, stream.data());
    reply.Collect(0, stream.data());
    reply.Collect(10, nullptr);
    EXPECT_TRUE(recorder.bytes.empty());
    FeedInChunks(reply, stream, 1024);  // nothing of the ignored chunk was kept
    EXPECT_EQ(Tags(recorder), (std::vector<uint16_t>{1, 2}));
}

TEST(FrameCollector, ResyncsAfterHundredByteOffset) {
    const auto full = Stream(1, 8);
    const std::vector<uint8_t> stream(full.begin() + 100, full.end());
    ReplyRecorder recorder;
    CCommandReply reply("K", 'K', ReplyRecorder::Callback, &recorder);
    size_t fed = 0;
    std::vector<size_t> reportedAt;
    for (size_t pos = 0; pos < stream.size(); pos += 512) {
        const size_t n = std::min<size_t>(512, stream.size() - pos);
        const size_t before = recorder.bytes.size();
        reply.Collect(static_cast<int>(n), stream.data() + pos);
        fed += n;
        for (size_t i = before; i < recorder.bytes.size(); ++i) {
            reportedAt.push_back(fed);
        }
    }
    // Frame 2 (window position 2012) is lost; frame 3 (position 4124) is the first reported,
    // once the third block is complete; from then on every frame is back in step.
    EXPECT_EQ(Tags(recorder), (std::vector<uint16_t>{3, 4, 5, 6, 7, 8}));
    ASSERT_FALSE(reportedAt.empty());
    EXPECT_GE(reportedAt[0], 3u * kFrameBlockSize);
    EXPECT_FALSE(reply.IsResynchronising());
    for (const auto& frame : recorder.bytes) {
        EXPECT_TRUE(IsFrameMarkerAt(frame.data() + kFrameMarkerOffset));
    }
}

TEST(FrameCollector, WindowWithoutMarkerKeepsTwoBlocksAndSearchesAgain) {
    ReplyRecorder recorder;
    CCommandReply reply("t", 't', ReplyRecorder::Callback, &recorder);
    std::vector<uint8_t> noise(kResyncWindowBytes, 0x11);
    FeedInChunks(reply, noise, 1000);
    EXPECT_TRUE(recorder.bytes.empty());
    EXPECT_TRUE(reply.IsResynchronising());
    // The next block completes a window of noise, noise and a frame at 4224 -> that frame.
    auto frame = TaggedFrame(42);
    FeedInChunks(reply, frame, 1000);
    EXPECT_EQ(Tags(recorder), (std::vector<uint16_t>{42}));
    EXPECT_FALSE(reply.IsResynchronising());
}

TEST(FrameSync, MarkerPositionsAtTheWindowEdges) {
    struct Case {
        int marker;
        std::optional<int> start;
    };
    const Case cases[] = {
        {2047, std::nullopt},  // frame would start before the window
        {2048, 0},
        {6272, 4224},          // tail just fits
        {6273, std::nullopt},  // tail would run past the window
        {6331, std::nullopt},  // last position scanned
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> window(kResyncWindowBytes, 0);
        std::memcpy(window.data() + c.marker, kFrameMarker, 4);
        EXPECT_EQ(FindFrameStartInWindow(window.data()), c.start) << "marker at " << c.marker;
    }
}

TEST(FrameSync, PrefersTheLatestOfTheFirstThreeMarkers) {
    std::vector<uint8_t> window(kResyncWindowBytes, 0);
    for (int m : {100, 2100, 3000, 6000}) {  // the fourth is beyond the scan's limit of three
        std::memcpy(window.data() + m, kFrameMarker, 4);
    }
    EXPECT_EQ(FindFrameStartInWindow(window.data()), 3000 - kFrameMarkerOffset);
}

TEST(FrameCollector, RecoversFromLostAndStrayBytes) {
    std::mt19937 rng(7);
    std::vector<uint8_t> stream;
    for (int i = 0; i < 200; ++i) {
        auto frame = TaggedFrame(static_cast<uint16_t>(i));
        if (i % 17 == 5) {
            frame.erase(frame.begin() + 300, frame.begin() + 340);  // lost bytes
        }
        if (i % 23 == 7) {
            stream.insert(stream.end(), 77, 0x5A);  // stray bytes
        }
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    ReplyRecorder recorder;
    CCommandReply reply("K", 'K', ReplyRecorder::Callback, &recorder);
    for (size_t pos = 0; pos < stream.size();) {
        const size_t n = std::min<size_t>(1 + rng() % 1023, stream.size() - pos);
        reply.Collect(static_cast<int>(n), stream.data() + pos);
        pos += n;
    }
    ASSERT_GT(recorder.bytes.size(), 150u);
    uint16_t previous = 0;
    for (size_t i = 0; i < recorder.bytes.size(); ++i) {
        const auto& frame = recorder.bytes[i];
        // Ordered by the frame that owns the marker; no frame is reported twice.
        const uint16_t tag = TagOf(frame.data() + kFrameMarkerOffset - 2);
        EXPECT_TRUE(IsFrameMarkerAt(frame.data() + kFrameMarkerOffset));
        if (i > 0) {
            EXPECT_GT(tag, previous);
        }
        previous = tag;
    }
}

struct TextCase {
    uint8_t letter;
    const char* reply;
    bool complete;
};

TEST(TextReplyRules, EachLetterEndsOnItsOwnWords) {
    const TextCase cases[] = {
        {'a', "MCLK changed, now 8125\r\nClock divider set to 1\r\n", true},
        {'a', "MCLK 8125\r\nset to 1\r\n", false},  // 40 bytes or fewer
        {'A', "MCLK changed, now 7875\r\nClock divider set to 1\r\n", true},
        {'b', "3300 mV\r\n", true},
        {'b', "3300 mX\r\n", false},
        {'b', "mV\r\n", false},  // 6 bytes or fewer
        {'f', "Offset filter set\r\n", true},
        {'J', "Amplification high\r\n", true},
        {'J', "Amplification low\r\n", true},
        {'J', "Amplification mid\r\n", false},
        {'l', "Level 1.25\r\n", true},
        {'m', "Buffer used.\r\n", true},
        {'M', "MCLK: 8000 kHz\r\nFirmware VDM1.3\r\n", true},
        {'M', "MCLK: 8000 kHz\r\n", false},
        {'o', "Offset used\r\n", true},
        {'O', "Offset used\r\n", true},
        {'V', "Voltage mode enabled.\r\n", true},
        {'X', "STOP!\r\n", true},
        {'X', "STOP\r\n", false},
        {'y', "Heater off\r\n", true},
        {'Y', "Fan on\r\n", false},  // 10 bytes or fewer
        {'Y', "Heater is on\r\n", true},
        {'x', "use\r\n", true},
        {'x', "pause\r\n", true},
        {'T', "Module off\r\n", false},
        {'q', "Command not in use\r\n", true},  // unknown letter: default rule
        {'M', "use\r\n", false},                // letters are compared exactly
    };
    for (const TextCase& c : cases) {
        const auto* data = reinterpret_cast<const uint8_t*>(c.reply);
        EXPECT_EQ(IsTextReplyComplete(c.letter, data, std::strlen(c.reply)), c.complete)
            << c.letter << ": " << c.reply;
    }
}

TEST(TextCollector, CompletesWhenTheEndArrivesAndKeepsCollecting) {
    ReplyRecorder recorder;
    CCommandReply reply("M", 'M', ReplyRecorder::Callback, &recorder);
    const std::string text = "Thermopile array 32x31\r\nMCLK: 8000 kHz\r\nFirmware VDM1.3\r\n";
    for (char c : text) {
        reply.Collect(1, reinterpret_cast<const uint8_t*>(&c));
    }
    ASSERT_EQ(recorder.texts.size(), 1u);
    EXPECT_EQ(recorder.texts[0], text);
    EXPECT_EQ(recorder.commands[0], "M");
}

TEST(TextCollector, DoneCollectorIgnoresInputAndReportsNothing) {
    ReplyRecorder recorder;
    CCommandReply reply("x", 'x', ReplyRecorder::Callback, &recorder);
    reply.MarkDone();
    const std::string text = "pause\r\n";
    reply.Collect(static_cast<int>(text.size()), reinterpret_cast<const uint8_t*>(text.data()));
    reply.Complete();
    EXPECT_TRUE(recorder.texts.empty());
}

std::string CalibrationTable(int rows) {
    std::string table = "PTAT1 2145\r\nNr.\tRow\tCol\r\n";
    for (int i = 0; i < rows; ++i) {
        table += std::to_string(i) + "\t1\t2\t3\t4\t5\t6\t7\t8\t9\r\n";
    }
    return table;
}

void FeedText(CCommandReply& reply, const std::string& text, size_t chunk) {
    for (size_t pos = 0; pos < text.size(); pos += chunk) {
        const size_t n = std::min(chunk, text.size() - pos);
        reply.Collect(static_cast<int>(n), reinterpret_cast<const uint8_t*>(text.data() + pos));
    }
}

// A module that keeps talking: the collector keeps and reports only the newest 4 MiB, judges the
// end rule on them alone, and trims in steps, so that even one-byte chunks past the limit cost a
// copy of the byte, not a move of megabytes (a one-byte-chunk flood would take hours otherwise).
// Each reported text is checked against the tail of the whole stream sent.
TEST(TextCollector, ReportsOnlyTheNewestFourMebibytesForAnyChunkSize) {
    constexpr size_t kCap = CCommandReply::kMaxTextReplyBytes;
    constexpr size_t kSlack = CCommandReply::kTextReplySlackBytes;
    const std::string table = CalibrationTable(992);
    const struct {
        uint8_t letter;
        size_t chunk;
        size_t fillerBytes;  // before the end; filler never completes a reply
        std::string end;     // ends a reply when it arrives after the filler
        size_t endEvery;     // the end is also sent after this much filler (0: only at the end)
    } cases[] = {
        {'x', 1000, kCap + 5000, "pause\r\n", 0},
        {'x', 1, kCap + kSlack + 100, "pause\r\n", 0},  // trims once, with one-byte chunks
        {'q', 7, 2 * kCap + 3 * kSlack, "Command not in use\r\n", 2 << 20},
        {'b', 2047, kCap - 10, "3300 mV\r\n", 1 << 20},  // never over the limit
        {'w', 1023, kCap + kSlack + 1, table, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.letter << " chunk " << c.chunk);
        ReplyRecorder recorder;
        CCommandReply reply(std::string(1, static_cast<char>(c.letter)), c.letter,
                            ReplyRecorder::Callback, &recorder);
        std::string sent;
        std::vector<std::string> expected;  // what each completion must report
        const auto send = [&](const std::string& part, bool completes) {
            for (size_t pos = 0; pos < part.size(); pos += c.chunk) {
                const size_t n = std::min(c.chunk, part.size() - pos);
                reply.Collect(static_cast<int>(n),
                              reinterpret_cast<const uint8_t*>(part.data() + pos));
            }
            sent += part;
            if (completes) {
                expected.push_back(sent.substr(sent.size() - std::min(sent.size(), kCap)));
            }
        };
        // Filler in whole chunks, so that only the chunk holding an end can complete.
        const std::string filler(c.chunk * std::max<size_t>(1, 65536 / c.chunk), 'Z');
        size_t sinceEnd = 0;
        for (size_t total = 0; total < c.fillerBytes; total += filler.size()) {
            send(filler, false);
            sinceEnd += filler.size();
            if (c.endEvery != 0 && sinceEnd >= c.endEvery) {
                send(c.end, true);
                sinceEnd = 0;
            }
        }
        send(c.end, true);
        ASSERT_EQ(recorder.texts.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(recorder.texts[i].size(), expected[i].size()) << "completion " << i;
            ASSERT_EQ(recorder.bytes[i].size(), expected[i].size()) << "completion " << i;
            EXPECT_TRUE(recorder.texts[i] == expected[i]) << "completion " << i;
        }
    }
}

TEST(CalibrationCollector, CompletesOnTheLineOfPixel991) {
    for (size_t chunk : {7u, 100u, 1023u}) {
        ReplyRecorder recorder;
        CCommandReply reply("w", 'w', ReplyRecorder::Callback, &recorder);
        const std::string table = CalibrationTable(992);
        FeedText(reply, table, chunk);
        ASSERT_EQ(recorder.texts.size(), 1u) << "chunk " << chunk;
        EXPECT_EQ(recorder.texts[0], table);
    }
}

TEST(CalibrationCollector, RecognisesATableEndingInAnEmptyLine) {
    ReplyRecorder recorder;
    CCommandReply reply("w", 'w', ReplyRecorder::Callback, &recorder);
    const std::string table = CalibrationTable(992);
    FeedText(reply, table.substr(0, table.size() - 30), 1000);
    ASSERT_TRUE(recorder.texts.empty());
    FeedText(reply, table.substr(table.size() - 30) + "\r\n", 1000);  // one chunk: LF CR LF
    ASSERT_EQ(recorder.texts.size(), 1u);
    EXPECT_EQ(recorder.texts[0], table + "\r\n");
}

TEST(CalibrationCollector, WaitsForTheWholeLastLine) {
    ReplyRecorder recorder;
    CCommandReply reply("w", 'w', ReplyRecorder::Callback, &recorder);
    const std::string table = CalibrationTable(992);
    // Cut inside the last line after its ninth tab: not yet a whole table.
    const size_t cut = table.size() - 4;
    FeedText(reply, table.substr(0, cut), 1000);
    EXPECT_TRUE(recorder.texts.empty());
    FeedText(reply, table.substr(cut), 1000);
    ASSERT_EQ(recorder.texts.size(), 1u);
    EXPECT_EQ(recorder.texts[0], table);
}

TEST(CalibrationCollector, ShortTablesAndFewColumnsStayOpen) {
    const std::string shortTable = CalibrationTable(991);
    std::string narrow = CalibrationTable(991) + "991\t1\t2\r\n";
    for (const std::string& text : {shortTable, narrow}) {
        ReplyRecorder recorder;
        CCommandReply reply("w", 'w', ReplyRecorder::Callback, &recorder);
        FeedText(reply, text, 512);
        EXPECT_TRUE(recorder.texts.empty());
    }
}

}  // namespace
