// CAviReader on recordings written by CAviWriter: whole, cut off and damaged in the ways a
// crash, a full disk or a broken copy leave them, not AVI at all, and mutated at random.
#include "recording/avi_reader.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "avi_test_files.h"
#include "sanitizer_build.h"

namespace {

using namespace video_test;

// Removes the file first: rewriting a file in place can make the file system flush it to disk
// each time, which slows a test of thousands of files down to a crawl.
void WriteBytes(const fs::path& file, const std::vector<uint8_t>& bytes) {
    std::error_code ignored;
    fs::remove(file, ignored);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void PutLe32(std::vector<uint8_t>& b, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

std::string AllProblems(const CAviReader& reader) {
    std::string text;
    for (const AviProblem& problem : reader.Problems()) {
        text += problem.text + "\n";
    }
    return text;
}

// The usable frames are the recorded ones: same bytes, same key-frame flags.
void ExpectRecordedFrames(CAviReader& reader, const std::vector<EncodedFrame>& recorded) {
    std::vector<uint8_t> bytes;
    for (int n = 0; n < reader.FrameCount(); ++n) {
        ASSERT_TRUE(reader.ReadFrame(n, bytes)) << reader.ErrorText();
        EXPECT_EQ(bytes, recorded[static_cast<std::size_t>(n)].bytes) << "frame " << n;
        EXPECT_EQ(reader.IsKeyFrame(n), recorded[static_cast<std::size_t>(n)].isKeyFrame != 0)
            << "frame " << n;
    }
}

TEST(AviReader, ReadsEveryFrameOfARecordingWithItsSizeAndKeyFlag) {
    const Recording& recording = TwoHundredFrameRecording();
    CAviReader reader;
    ASSERT_TRUE(reader.Open(recording.file.string())) << reader.ErrorText();
    EXPECT_EQ(reader.Width(), 320);
    EXPECT_EQ(reader.Height(), 310);
    EXPECT_EQ(reader.Rate(), 20u);
    EXPECT_EQ(reader.Scale(), 1u);
    EXPECT_EQ(reader.FramesPerSecond(), 20.0);
    EXPECT_EQ(FourCcText(reader.Handler()), "xvid");
    EXPECT_EQ(FourCcText(reader.Compression()), "XVID");
    EXPECT_EQ(reader.StreamNumber(), 0);
    EXPECT_EQ(reader.MainHeaderFrames(), 200u);
    EXPECT_EQ(reader.StreamHeaderFrames(), 200u);
    EXPECT_TRUE(reader.HasIndex());
    EXPECT_EQ(reader.IndexFrames(), 200u);
    EXPECT_EQ(AllProblems(reader), "");
    EXPECT_EQ(reader.FramesEnd(), nullptr);
    ASSERT_EQ(reader.FrameCount(), 200);
    ExpectRecordedFrames(reader, recording.frames);

    // A decoder starts from the key frame at or before the frame it wants.
    EXPECT_EQ(reader.KeyFrameAtOrBefore(0), 0);
    EXPECT_EQ(reader.KeyFrameAtOrBefore(149), 0);
    EXPECT_EQ(reader.KeyFrameAtOrBefore(150), 150);
    EXPECT_EQ(reader.KeyFrameAtOrBefore(199), 150);
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(reader.ReadFrame(200, bytes));
    EXPECT_FALSE(reader.ReadFrame(-1, bytes));
}

// A file damaged in one way. `damage` changes the recording's bytes and returns the byte offset
// at which the usable frames end, or 0 when they do not end early.
struct DamageCase {
    const char* name;
    std::function<uint64_t(std::vector<uint8_t>&, const ParsedAvi&)> damage;
    int frames;        // whole frames read
    int64_t endFrame;  // the frame the kFramesEnd problem names, -1 for none
    uint64_t indexFrames;
    std::set<AviProblemKind> kinds;
    const char* textHas;  // in one of the problems
};

TEST(AviReader, DamagedRecordingIsReadAsFarAsItIsWholeAndSaysWhereItEnds) {
    using K = AviProblemKind;
    const Recording& recording = TwoHundredFrameRecording();
    const ParsedAvi avi = ParseAvi(recording.file);
    ASSERT_EQ(avi.problem, "");
    // File offsets of frame k's chunk header and of the idx1 chunk.
    const auto chunk = [](const ParsedAvi& a, int k) {
        return a.movieCode + a.frames[static_cast<std::size_t>(k)].offset;
    };
    const auto index = [](const ParsedAvi& a) {
        return a.movieCode + Le32(a.bytes, a.movieCode - 4);
    };
    const auto cutAt = [](std::vector<uint8_t>& b, uint64_t size) {
        b.resize(size);
        return size;
    };

    const DamageCase cases[] = {
        {"cut in the middle of frame 120",
         [&](auto& b, const auto& a) {
             cutAt(b, chunk(a, 120) + 8 + a.frames[120].size / 2);
             return chunk(a, 120);
         },
         120,
         120,
         0,
         {K::kFramesEnd, K::kIndex, K::kFrameCount, K::kLayout},
         "frame 120 at byte"},
        {"cut inside the chunk header of frame 120",
         [&](auto& b, const auto& a) {
             cutAt(b, chunk(a, 120) + 5);
             return chunk(a, 120);
         },
         120,
         120,
         0,
         {K::kFramesEnd, K::kIndex, K::kFrameCount, K::kLayout},
         "the file ends inside the chunk header"},
        {"cut between frames 119 and 120",
         [&](auto& b, const auto& a) { return cutAt(b, chunk(a, 120)); },
         120,
         120,
         0,
         {K::kFramesEnd, K::kIndex, K::kFrameCount, K::kLayout},
         "but its movie list runs to byte"},
        {"cut inside the index after 50 entries",
         [&](auto& b, const auto& a) {
             cutAt(b, index(a) + 8 + 50 * 16 + 7);
             return uint64_t{0};
         },
         200,
         -1,
         50,
         {K::kIndex, K::kLayout},
         "cut short: 50 of its 200 entries"},
        {"no index",
         [&](auto& b, const auto& a) {
             cutAt(b, index(a));
             return uint64_t{0};
         },
         200,
         -1,
         0,
         {K::kIndex, K::kLayout},
         "no idx1 index"},
        {"recording never closed: headers of an empty movie, no index",
         [&](auto& b, const auto& a) {
             cutAt(b, index(a));
             PutLe32(b, 4, static_cast<uint32_t>(a.movieCode + 4 - 8));
             PutLe32(b, a.movieCode - 4, 4);
             PutLe32(b, a.avih + 16, 0);
             PutLe32(b, a.strh + 32, 0);
             return uint64_t{0};
         },
         200,
         -1,
         0,
         {K::kIndex, K::kFrameCount, K::kLayout},
         "but frames follow"},
        {"broken chunk header at frame 57",
         [&](auto& b, const auto& a) {
             PutLe32(b, chunk(a, 57), 0xFFFFFFFF);
             return chunk(a, 57);
         },
         57,
         57,
         200,
         {K::kFramesEnd, K::kIndex, K::kFrameCount},
         "the chunk header is broken"},
        {"frame 30 claims 2 GiB",
         [&](auto& b, const auto& a) {
             PutLe32(b, chunk(a, 30) + 4, 0x7FFFFFFF);
             return chunk(a, 30);
         },
         30,
         30,
         200,
         {K::kFramesEnd, K::kIndex, K::kFrameCount},
         "more than any frame has"},
        {"frame 30 claims more bytes than the file has",
         [&](auto& b, const auto& a) {
             PutLe32(b, chunk(a, 30) + 4, static_cast<uint32_t>(b.size()));
             return chunk(a, 30);
         },
         30,
         30,
         200,
         {K::kFramesEnd, K::kIndex, K::kFrameCount},
         "the file ends inside the frame"},
        {"the index entry of frame 10 points elsewhere",
         [&](auto& b, const auto& a) {
             PutLe32(b, index(a) + 8 + 10 * 16 + 8, a.index[10].offset + 2);
             return uint64_t{0};
         },
         200,
         -1,
         200,
         {K::kIndex},
         "the idx1 entry of frame 10"},
        {"index offsets counted from the start of the file, as some writers do",
         [&](auto& b, const auto& a) {
             for (std::size_t k = 0; k < a.index.size(); ++k) {
                 PutLe32(b, index(a) + 8 + k * 16 + 8,
                         static_cast<uint32_t>(a.index[k].offset + a.movieCode));
             }
             return uint64_t{0};
         },
         200,
         -1,
         200,
         {},
         ""},
    };

    ScratchDirectory dir;
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = avi.bytes;
        const uint64_t endAt = c.damage(bytes, avi);
        const fs::path file = dir.path() / "damaged.avi";
        WriteBytes(file, bytes);

        CAviReader reader;
        ASSERT_TRUE(reader.Open(file.string())) << reader.ErrorText();
        const std::string problems = AllProblems(reader);
        EXPECT_EQ(reader.FrameCount(), c.frames) << problems;
        EXPECT_EQ(reader.IndexFrames(), c.indexFrames) << problems;
        std::set<AviProblemKind> kinds;
        for (const AviProblem& problem : reader.Problems()) {
            kinds.insert(problem.kind);
            EXPECT_LE(problem.byteOffset, bytes.size()) << problem.text;
        }
        EXPECT_EQ(kinds, c.kinds) << problems;
        EXPECT_NE(problems.find(c.textHas), std::string::npos) << problems;
        const AviProblem* end = reader.FramesEnd();
        if (c.endFrame < 0) {
            EXPECT_EQ(end, nullptr) << problems;
        } else if (end != nullptr) {
            EXPECT_EQ(end->frame, c.endFrame) << end->text;
            EXPECT_EQ(end->byteOffset, endAt) << end->text;
        } else {
            ADD_FAILURE() << "no end of the usable frames reported:\n" << problems;
        }
        // Key frames come from the index where it agrees and from the pictures elsewhere: both
        // must agree with the encoder.
        ExpectRecordedFrames(reader, recording.frames);
    }
}

// A minimal AVI whose only stream is of the given type, with a stream format of the given size.
std::vector<uint8_t> HeadersOnly(uint32_t streamType, int32_t width, int32_t height) {
    AviMainHeader main;
    AviStreamHeader stream;
    stream.type = streamType;
    stream.rate = 20;
    stream.scale = 1;
    BitmapInfoHeader format;
    format.width = width;
    format.height = height;
    std::vector<uint8_t> bytes = BuildAviHeaderBlock(main, stream, format, "s", 0, 4);
    PutLe32(bytes, 4, static_cast<uint32_t>(bytes.size() - 8));
    return bytes;
}

TEST(AviReader, FileThatIsNoUsableAviGivesOneClearError) {
    ScratchDirectory dir;
    std::vector<uint8_t> random(4096);
    std::mt19937 rng(3);
    for (uint8_t& byte : random) {
        byte = static_cast<uint8_t>(rng());
    }
    const std::vector<uint8_t> riffOnly = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '};
    const std::vector<uint8_t> wave = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* error;  // after the quoted path
    };
    const Case cases[] = {
        {"empty", {}, " is empty"},
        {"random bytes", random, " is not an AVI file (no RIFF 'AVI ' header)"},
        {"shorter than a RIFF header",
         {'R', 'I', 'F', 'F'},
         " is not an AVI file (no RIFF 'AVI ' header)"},
        {"a WAVE file", wave, " is not an AVI file (no RIFF 'AVI ' header)"},
        {"a RIFF header and nothing else", riffOnly, " has no stream headers (no 'hdrl' list)"},
        {"an audio stream only", HeadersOnly(MakeFourCc('a', 'u', 'd', 's'), 0, 0),
         " has no video stream"},
        {"a video stream of 0 x 0 pixels", HeadersOnly(kFourCcVideoStream, 0, 0),
         " gives its video a frame size of 0 x 0 pixels, which cannot be"},
        {"a video stream of 40000 x 10 pixels", HeadersOnly(kFourCcVideoStream, 40000, 10),
         " gives its video a frame size of 40000 x 10 pixels, which cannot be"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir.path() / "bad.avi";
        WriteBytes(file, c.bytes);
        CAviReader reader;
        EXPECT_FALSE(reader.Open(file.string()));
        EXPECT_EQ(reader.ErrorText(), "'" + file.string() + "'" + c.error);
        EXPECT_FALSE(reader.IsOpen());
        EXPECT_EQ(reader.FrameCount(), 0);
    }

    CAviReader reader;
    EXPECT_FALSE(reader.Open((dir.path() / "missing.avi").string()));
    EXPECT_EQ(reader.ErrorText(), "cannot open '" + (dir.path() / "missing.avi").string() +
                                      "': No such file or directory");
    EXPECT_FALSE(reader.Open(dir.path().string()));
    EXPECT_EQ(reader.ErrorText(), "'" + dir.path().string() + "' is a directory");
    // A FIFO under a video's name is refused at once rather than waited on for a writer (the
    // alarm ends a test that would hang).
    const fs::path fifo = dir.path() / "fifo.avi";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::alarm(10);
    EXPECT_FALSE(reader.Open(fifo.string()));
    ::alarm(0);
    EXPECT_EQ(reader.ErrorText(), "'" + fifo.string() + "' is not a regular file");
    EXPECT_FALSE(reader.Open("/dev/zero"));
    EXPECT_EQ(reader.ErrorText(), "'/dev/zero' is not a regular file");

    // Headers without a movie list open, hold no frames and say so.
    std::vector<uint8_t> noMovie = HeadersOnly(kFourCcVideoStream, 320, 310);
    noMovie.resize(noMovie.size() - kListHeaderBytes);
    PutLe32(noMovie, 4, static_cast<uint32_t>(noMovie.size() - 8));
    WriteBytes(dir.path() / "no-frames.avi", noMovie);
    ASSERT_TRUE(reader.Open((dir.path() / "no-frames.avi").string())) << reader.ErrorText();
    EXPECT_EQ(reader.FrameCount(), 0);
    ASSERT_NE(reader.FramesEnd(), nullptr);
    EXPECT_EQ(reader.FramesEnd()->text,
              "the file has no movie list ('movi'), so it holds no frames");
}

// Random damage to headers, sizes and lengths: whatever the reader makes of a file, it never
// reads outside it, every frame it offers can be read, and it does not crash (the sanitizer
// build watches the reads and writes).
TEST(AviReader, RandomlyDamagedRecordingsNeverLeadOutsideTheFile) {
    const std::vector<EncodedFrame> frames = EncodeImages(DisplayImagesBgr(12));
    ScratchDirectory dir;
    const fs::path original = dir.path() / "original.avi";
    WriteRecording(original, frames);
    const ParsedAvi avi = ParseAvi(original);
    ASSERT_EQ(avi.problem, "");
    // Where damage hurts most: header fields and chunk headers.
    std::vector<std::size_t> hotSpots;
    for (std::size_t at = 0; at < avi.movieCode + 12; at += 4) {
        hotSpots.push_back(at);
    }
    for (const ParsedAvi::Chunk& frame : avi.frames) {
        hotSpots.push_back(avi.movieCode + frame.offset);
        hotSpots.push_back(avi.movieCode + frame.offset + 4);
    }
    const uint32_t words[] = {
        0,          1,          3,          4,          8,
        0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF8, static_cast<uint32_t>(avi.bytes.size())};

    std::mt19937 rng(11);
    int opened = 0;
    std::vector<uint8_t> bytes;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> damaged = avi.bytes;
        const int changes = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < changes; ++i) {
            const std::size_t spot = hotSpots[rng() % hotSpots.size()];
            if (spot + 4 > damaged.size()) {
                continue;
            }
            switch (rng() % 4) {
                case 0:
                    PutLe32(damaged, spot, words[rng() % std::size(words)]);
                    break;
                case 1:
                    PutLe32(damaged, spot, static_cast<uint32_t>(rng()));
                    break;
                case 2:
                    damaged[rng() % damaged.size()] = static_cast<uint8_t>(rng());
                    break;
                default:
                    damaged.resize(rng() % damaged.size());
                    break;
            }
            if (damaged.size() < avi.movieCode + 12) {
                break;
            }
        }
        const fs::path file = dir.path() / "random.avi";
        WriteBytes(file, damaged);
        CAviReader reader;
        if (!reader.Open(file.string())) {
            EXPECT_FALSE(reader.ErrorText().empty());
            continue;
        }
        ++opened;
        for (int n = 0; n < reader.FrameCount(); ++n) {
            const AviFrameEntry& entry = reader.Frame(n);
            ASSERT_LE(entry.offset + entry.size, damaged.size()) << "round " << round;
            ASSERT_TRUE(reader.ReadFrame(n, bytes)) << reader.ErrorText();
            ASSERT_EQ(bytes.size(), entry.size);
        }
        for (const AviProblem& problem : reader.Problems()) {
            EXPECT_LE(problem.byteOffset, damaged.size()) << problem.text;
        }
    }
    EXPECT_GT(opened, 1000) << "the damage rarely left a file worth reading";
}

// The frame table costs 8 bytes a frame, and nothing of the frame size the headers state: a file
// of a million empty chunks (8 MB, no index) takes 8 MiB of heap to open (16 MiB and more at
// 16 bytes a frame before), whatever the width and height it states.
TEST(AviReader, FrameTableTakesEightBytesAFrame) {
    if (kSanitizerBuild) {
        GTEST_SKIP() << "the sanitizers keep the heap of their own";
    }
    constexpr int kFrames = 1000000;
    ScratchDirectory dir;
    struct Case {
        uint32_t width, height;
        bool withIndex;
    };
    for (const Case& c : {Case{320, 310, false}, Case{32767, 32767, false}, Case{320, 310, true}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) +
                     (c.withIndex ? ", idx1" : ""));
        const fs::path file = dir.path() / "empty-chunks.avi";
        WriteCrafted(file, crafted_avi::Avi(c.width, c.height,
                                            std::vector<crafted_avi::Frame>(kFrames), c.withIndex));
        const std::size_t before = mallinfo2().uordblks;
        CAviReader reader;
        ASSERT_TRUE(reader.Open(file.string())) << reader.ErrorText();
        const std::size_t grown = mallinfo2().uordblks - before;
        ASSERT_EQ(reader.FrameCount(), kFrames);
        EXPECT_LE(reader.FrameTableBytes(), kFrames * 8 + (1u << 20));
        EXPECT_LE(grown, kFrames * 8 + (2u << 20));
        EXPECT_EQ(reader.Frame(kFrames - 1).size, 0u);
        EXPECT_EQ(reader.Frame(kFrames - 1).offset,
                  fs::file_size(file) - (c.withIndex ? 16 * kFrames + 8 : 0));
    }
}

}  // namespace
