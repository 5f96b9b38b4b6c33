#include "recording/stream_recorder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/conversion.h"
#include "processing/image_scaling.h"
#include "recording/recording_files.h"

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& path) {
    return std::string(1, '\'').append(path).append(1, '\'');
}

// Stands in for the encoder and the movie: every frame encodes to `length` bytes and adds one
// byte to the file at the sink's path, until `appendsLeft` frames were taken. A sink that must
// make a new file and finds the name taken refuses every frame.
struct FakeVideoSink : IVideoSink {
    FakeVideoSink(const std::string& path, RecordingFileCreation creation, int length,
                  int appendsLeft)
        : file(std::fopen(path.c_str(),
                          creation == RecordingFileCreation::kNewFileOnly ? "wbx" : "wb")),
          length(length),
          appendsLeft(file != nullptr ? appendsLeft : 0) {}
    ~FakeVideoSink() override {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    int EncodeFrame(const uint8_t*, uint8_t*, int* outLength, int* isKeyFrame) override {
        *outLength = length;
        *isKeyFrame = 1;
        return 1;
    }
    int32_t AppendFrame(int, int, const uint8_t*) override {
        return appendsLeft-- == 0 ? -1 : (std::fputc('f', file), 0);
    }
    std::string FailureReason() const override { return appendsLeft < 0 ? "disk on fire" : ""; }
    std::FILE* file;
    int length;
    int appendsLeft;
};

class StreamRecorderTest : public ::testing::Test {
  protected:
    RecorderEnvironment Environment(CWriteCounters* counters = nullptr) {
        RecorderEnvironment environment;
        environment.pWriteCounters = counters != nullptr ? counters : &m_counters;
        environment.freeSpaceMiB = [this](const std::string& directory) {
            ++m_freeSpaceQueries;
            m_queriedDirectory = directory;
            return m_freeMiB;
        };
        environment.videoSinkFactory = [this](const std::string& path,
                                              RecordingFileCreation creation) {
            return std::make_unique<FakeVideoSink>(path, creation, m_encodedLength,
                                                   m_appendsBeforeFailure);
        };
        return environment;
    }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    // One write of `type` through its own operation: a record, a 1024-byte text, a video frame.
    static int WriteOne(CStreamRecorder& recorder, int type) {
        static const std::string record = HandRecord('T', FlatBlock(2981));
        static const std::string text(1024, 'x');
        static const std::vector<uint8_t> image(kImageBytes, 9);
        if (type == kRecordingBinary) {
            return recorder.WriteRecord(static_cast<int>(record.size()), Bytes(record));
        }
        if (type == kRecordingText) {
            return recorder.WriteText(text);
        }
        return recorder.WriteVideoFrame(kImageWidth, kImageHeight, image.data());
    }

    const ScratchDirectory m_scratch{"stream_recorder"};
    const fs::path& m_dir = m_scratch.path();
    CWriteCounters m_counters;
    std::optional<uint64_t> m_freeMiB = 100000;
    int m_freeSpaceQueries = 0;
    std::string m_queriedDirectory;
    int m_encodedLength = 1000;
    int m_appendsBeforeFailure = -1;  // never fails
};

TEST_F(StreamRecorderTest, EveryNthFrameIsWrittenAndPlayBackOnlyIntoText) {
    struct Case {
        int everyN;
        int type;
        const char* frames;  // frame 1, 2, ...: L live, P text play-back (no frame block)
        std::vector<int> written;
    } cases[] = {
        {1, kRecordingBinary, "LLLL", {1, 2, 3, 4}},
        {3, kRecordingBinary, "LLLLLLLLL", {1, 4, 7}},
        {4, kRecordingBinary, "LLLLLLLLL", {1, 5, 9}},
        {3, kRecordingText, "LLLLLLLLL", {1, 4, 7}},
        {3, kRecordingBinary, "LPLPLLL", {1, 6}},
        {3, kRecordingText, "LPLPLLL", {1, 4, 7}},
    };
    for (const Case& c : cases) {
        CStreamRecorder recorder(Environment());
        ASSERT_EQ(recorder.OpenFile(c.type, Path("every")), 1);
        for (int n = 1; c.frames[n - 1] != '\0'; ++n) {
            const std::string block = FlatBlock(static_cast<uint16_t>(n));
            const std::string text = std::to_string(n) + "\r\n";
            const bool live = c.frames[n - 1] == 'L';
            recorder.RecordFrame({.modeLetter = 'K',
                                  .text = text,
                                  .block = live ? Bytes(block) : nullptr,
                                  .unit = kUnitKelvin},
                                 c.everyN);
        }
        recorder.CloseFile();
        std::string expected;
        for (int n : c.written) {
            expected += c.type == kRecordingBinary
                            ? HandRecord('T', FlatBlock(static_cast<uint16_t>(n)))
                            : "Mode=K ElOff=F\r\r\n" + std::to_string(n) + "\r\r\n";
        }
        EXPECT_EQ(ReadWhole(Path("every")), expected) << c.everyN << " " << c.frames;
    }

    // The count runs on when the recording moves to a file of the other type.
    CStreamRecorder recorder(Environment());
    const std::string block = FlatBlock(1);
    const ProcessedFrame frame{.modeLetter = 'K',
                               .text = "1\r\n",
                               .block = Bytes(block),
                               .unit = kUnitKelvin,
                               .subtractingOffsets = false};
    ASSERT_EQ(recorder.OpenFile(kRecordingBinary, Path("a.bds")), 1);
    EXPECT_EQ(recorder.RecordFrame(frame, 3), RecordOutcome::kWritten);
    EXPECT_EQ(recorder.RecordFrame(frame, 3), RecordOutcome::kSkipped);
    ASSERT_EQ(recorder.OpenFile(kRecordingText, Path("b.txt")), 1);
    EXPECT_EQ(recorder.RecordFrame(frame, 3), RecordOutcome::kSkipped);
    EXPECT_EQ(recorder.RecordFrame(frame, 3), RecordOutcome::kWritten);
}

TEST_F(StreamRecorderTest, TextHeaderLineNamesModeAndOffsets) {
    const struct {
        char letter;
        int unit;
        bool subtracting;
        const char* header;
    } cases[] = {
        {'t', kUnitCelsius, true, "Mode=V ElOff=T"},    {'c', kUnitKelvin, false, "Mode=V ElOff=F"},
        {'K', kUnitFahrenheit, true, "Mode=F ElOff=F"}, {'k', kUnitKelvin, true, "Mode=K ElOff=F"},
        {'K', kUnitCelsius, false, "Mode=C ElOff=F"},   {'K', 7, false, "Mode=F ElOff=F"}};
    CStreamRecorder recorder(Environment());
    ASSERT_EQ(recorder.OpenFile(kRecordingText, Path("h.txt")), 1);
    std::string expected;
    for (const auto& c : cases) {
        EXPECT_EQ(recorder.RecordFrame({.modeLetter = c.letter,
                                        .text = "a\tb\t\r\n",
                                        .unit = c.unit,
                                        .subtractingOffsets = c.subtracting},
                                       1),
                  RecordOutcome::kWritten);
        expected += std::string(c.header) + "\r\r\na\tb\t\r\r\n";
    }
    recorder.CloseFile();
    EXPECT_EQ(ReadWhole(Path("h.txt")), expected);
}

TEST_F(StreamRecorderTest, LongRecordingsContinueInNumberedParts) {
    constexpr uint64_t kRecord = 2128;
    const struct Case {
        int type;
        uint64_t streamSplitMiB;
        int encodedLength;  // video
        int writes;
        std::vector<std::pair<std::string, uint64_t>> files;  // the first is recorded to; size
                                                              // in bytes, frames for video
    } cases[] = {
        // 8 x 1024 records are 16.6 MiB, 9 x 1024 are 18.7 MiB.
        {1, 16, 0, 9 * 1024 + 1, {{"rec.bds", 9216 * kRecord}, {"rec_001.bds", kRecord}}},
        {1,
         0,
         0,
         2 * 1024 + 1,
         {{"a.b.bds", 1024 * kRecord}, {"a.b_001.bds", 1024 * kRecord}, {"a.b_002.bds", kRecord}}},
        // 1024 texts of 1 KiB are 1 MiB, not above 1.
        {2, 1, 0, 2 * 1024 + 1, {{"rec", 2048 * 1024}, {"rec_001", 1024}}},
        // Encoded video counts against 48 MiB: 1024 x 50176 bytes are 49 MiB, one byte less
        // per frame stays below.
        {3, 16, 50176, 1024 + 1, {{"rec.avi", 1024}, {"rec_001.avi", 1}}},
        {3, 16, 50175, 2048 + 1, {{"rec.avi", 2048}, {"rec_001.avi", 1}}},
    };
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const Case& c = cases[row];
        const fs::path dir = m_dir / (std::to_string(row) + ".d");
        fs::create_directories(dir);
        CWriteCounters counters;
        RecorderEnvironment environment = Environment(&counters);
        environment.streamSplitMiB = c.streamSplitMiB;
        m_encodedLength = c.encodedLength;
        CStreamRecorder recorder(environment);
        ASSERT_EQ(recorder.OpenFile(c.type, (dir / c.files[0].first).string()), 1);
        for (int i = 0; i < c.writes; ++i) {
            ASSERT_EQ(WriteOne(recorder, c.type), 1) << row << " " << i;
        }
        EXPECT_EQ(recorder.GetPath(), (dir / c.files.back().first).string());
        recorder.CloseFile();
        for (const auto& [name, size] : c.files) {
            EXPECT_EQ(fs::file_size(dir / name), size) << row << name;
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
                  static_cast<long>(c.files.size()))
            << row;
    }
}

// A recording creates its files without waiting on what is there and replaces nothing it did not
// create: the first file replaces only a regular file, and only when asked; a part whose name is
// taken (by a file, or a link to one) takes the next free number and leaves a notice.
TEST_F(StreamRecorderTest, FilesAreCreatedWithoutWaitingOrReplacingWhatIsNotTheirs) {
    const auto replace = RecordingFileCreation::kReplaceRegularFile;
    const auto newOnly = RecordingFileCreation::kNewFileOnly;
    fs::create_directories(m_dir / "dir.bds");
    ASSERT_EQ(::mkfifo(Path("fifo.bds").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo(Path("fifo.avi").c_str(), 0644), 0);
    fs::create_symlink("/dev/null", m_dir / "null.txt");
    WriteFileBytes(m_dir / "old.bds", "my earlier recording");
    const struct {
        int type;
        const char* name;
        RecordingFileCreation creation;
        const char* reason;  // empty: the recording opens and writes
    } opens[] = {
        {kRecordingBinary, "fifo.bds", replace, "it is not a regular file"},
        {kRecordingText, "null.txt", replace, "it is not a regular file"},
        {kRecordingBinary, "dir.bds", replace, "Is a directory"},
        {kRecordingVideo, "fifo.avi", replace, "it is not a regular file"},
        {kRecordingBinary, "old.bds", newOnly, "a file of that name exists"},
        {kRecordingBinary, "old.bds", replace, ""},
    };
    RecorderEnvironment realVideo = Environment();
    realVideo.videoSinkFactory = CreateXvidAviSink;
    for (const auto& c : opens) {
        SCOPED_TRACE(c.name);
        CStreamRecorder recorder(realVideo);
        // A video's file is made by its first frame.
        const int written = recorder.OpenFile(c.type, Path(c.name), c.creation) == 1 &&
                            WriteOne(recorder, c.type) == 1;
        EXPECT_EQ(written, c.reason[0] == '\0' ? 1 : 0);
        EXPECT_NE(recorder.GetLastError().find(c.reason), std::string::npos)
            << recorder.GetLastError();
    }
    EXPECT_TRUE(fs::is_fifo(m_dir / "fifo.bds"));
    EXPECT_EQ(fs::file_size(Path("old.bds")), 2128u);

    for (const int type : {kRecordingBinary, kRecordingText, kRecordingVideo}) {
        const std::string extension = type == kRecordingBinary ? ".bds"
                                      : type == kRecordingText ? ".txt"
                                                               : ".avi";
        SCOPED_TRACE(extension);
        fs::remove_all(m_dir / "parts");
        fs::create_directories(m_dir / "parts");
        const fs::path earlier = m_dir / "parts" / ("rec_001" + extension);
        WriteFileBytes(earlier, "my earlier recording");
        WriteFileBytes(m_dir / "outside", "not a recording");
        fs::create_symlink(m_dir / "outside", m_dir / "parts" / ("rec_002" + extension));
        RecorderEnvironment environment = Environment();
        environment.streamSplitMiB = 0;
        m_encodedLength = 50176;  // a split after 1024 video frames
        CStreamRecorder recorder(environment);
        ASSERT_EQ(recorder.OpenFile(type, (m_dir / "parts" / ("rec" + extension)).string()), 1);
        for (int i = 0; i < 2 * 1024 + 1; ++i) {
            ASSERT_EQ(WriteOne(recorder, type), 1) << i << recorder.GetLastError();
        }
        recorder.CloseFile();
        EXPECT_EQ(ReadWhole(earlier), "my earlier recording");
        EXPECT_EQ(ReadWhole(m_dir / "outside"), "not a recording");
        // The first split skipped two names; the second found its name free.
        const std::string part = Path("parts/rec_003" + extension);
        EXPECT_EQ(recorder.TakeNotice(),
                  Quote(earlier.string()) + " exists: the recording continues in " + Quote(part));
        EXPECT_EQ(recorder.TakeNotice(), "");
        EXPECT_TRUE(fs::exists(part));
        EXPECT_EQ(recorder.GetPath(), Path("parts/rec_004" + extension));
    }
}

TEST_F(StreamRecorderTest, DiskIsCheckedAtEvery1024thWriteOfAType) {
    const std::optional<uint64_t> freeSpaces[] = {255, 256, std::nullopt};
    for (const std::optional<uint64_t>& freeMiB : freeSpaces) {
        CWriteCounters counters;
        CStreamRecorder recorder(Environment(&counters));
        m_freeMiB = freeMiB;
        m_freeSpaceQueries = 0;
        ASSERT_EQ(recorder.OpenFile(kRecordingBinary, Path("disk.bds")), 1);
        for (int i = 1; i < 1024; ++i) {
            ASSERT_EQ(WriteOne(recorder, kRecordingBinary), 1);
        }
        EXPECT_EQ(m_freeSpaceQueries, 0);
        // The stop is reported once, with the record written; the file stays open and takes
        // later frames.
        EXPECT_EQ(WriteOne(recorder, kRecordingBinary), freeMiB.value_or(0) >= 256 ? 1 : 0);
        EXPECT_EQ(recorder.LastWriteKept(), 1);
        EXPECT_EQ(m_freeSpaceQueries, 1);
        EXPECT_EQ(m_queriedDirectory, m_dir.string() + "/");
        EXPECT_EQ(WriteOne(recorder, kRecordingBinary), 1);
        recorder.CloseFile();
        EXPECT_EQ(fs::file_size(Path("disk.bds")), 1025u * 2128u);
    }

    // The counts belong to the program: they run on across files, and each type has its own.
    CStreamRecorder first(Environment());
    CStreamRecorder second(Environment());
    m_freeSpaceQueries = 0;
    ASSERT_EQ(first.OpenFile(kRecordingBinary, Path("a.bds")), 1);
    ASSERT_EQ(second.OpenFile(kRecordingText, Path("b.txt")), 1);
    for (int i = 0; i < 1000; ++i) {
        WriteOne(first, kRecordingBinary);
        WriteOne(second, kRecordingText);
    }
    ASSERT_EQ(first.OpenFile(kRecordingBinary, Path("c.bds")), 1);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(m_freeSpaceQueries, 0);
        WriteOne(first, kRecordingBinary);
    }
    EXPECT_EQ(m_freeSpaceQueries, 1);
}

TEST_F(StreamRecorderTest, FailedWritesStopAndLeaveOnlyWholeRecordsAndFrames) {
    std::string frameText;
    for (int line = 0; line < 33; ++line) {
        frameText += std::string(100, '1') + "\r\n";  // 103 bytes on disk
    }
    const std::string record = HandRecord('T', FlatBlock(2981));
    constexpr std::size_t kLimit = 10000;
    const struct {
        int type;
        std::size_t bytesOnDisk;
    } cases[] = {{kRecordingBinary, 2128}, {kRecordingText, 33 * 103}};
    for (const auto& c : cases) {
        // A full disk, for real: a file size limit in a child process, where a write past it
        // ends short and the next fails with EFBIG (SIGXFSZ ignored).
        const std::string path = Path("full" + std::to_string(c.type));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit limit{kLimit, kLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, SIG_IGN);
            CStreamRecorder recorder(Environment());
            int written = 0;
            int writtenAfterStop = 0;
            bool stopped = recorder.OpenFile(c.type, path) != 1;
            for (int i = 0; i < 8; ++i) {
                const int result = c.type == kRecordingBinary
                                       ? recorder.WriteRecord(2128, Bytes(record))
                                       : recorder.WriteText(frameText);
                (stopped ? writtenAfterStop : written) += result;
                stopped = stopped || result == 0;
            }
            const bool named = recorder.GetLastError().find("File too large") != std::string::npos;
            ::_exit(stopped && named && writtenAfterStop == 0 ? written : 100);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        const std::size_t whole = kLimit / c.bytesOnDisk;
        EXPECT_EQ(static_cast<std::size_t>(WEXITSTATUS(status)), whole) << c.type;
        EXPECT_EQ(fs::file_size(path), whole * c.bytesOnDisk) << c.type;
    }

    // The directory removed under a recording: noticed within 16 writes, for good.
    for (int type : {kRecordingBinary, kRecordingText}) {
        fs::create_directories(m_dir / "gone");
        CStreamRecorder recorder(Environment());
        ASSERT_EQ(recorder.OpenFile(type, Path("gone/rec")), 1);
        EXPECT_EQ(WriteOne(recorder, type), 1);
        fs::remove_all(m_dir / "gone");
        int writes = 1;
        while (writes < 100 && WriteOne(recorder, type) == 1) {
            ++writes;
        }
        EXPECT_LE(writes, 16);
        EXPECT_EQ(WriteOne(recorder, type), 0);
        EXPECT_NE(recorder.GetLastError().find("removed"), std::string::npos);
    }

    // A movie that refuses frames stops the recording too; nothing more reaches it.
    m_appendsBeforeFailure = 2;
    CStreamRecorder video(Environment());
    ASSERT_EQ(video.OpenFile(kRecordingVideo, Path("v.avi")), 1);
    const int results[] = {WriteOne(video, kRecordingVideo), WriteOne(video, kRecordingVideo),
                           WriteOne(video, kRecordingVideo), WriteOne(video, kRecordingVideo)};
    EXPECT_EQ(std::vector<int>(std::begin(results), std::end(results)),
              (std::vector<int>{1, 1, 0, 0}));
    EXPECT_EQ(video.GetLastError(), "cannot write the video: disk on fire");
    video.CloseFile();  // completes the movie
    EXPECT_EQ(fs::file_size(Path("v.avi")), 2u);
}

TEST_F(StreamRecorderTest, OpenFailsWithAReasonAndLeavesTheRecorderClosed) {
    const struct {
        int type;
        const char* path;
        const char* reason;
    } cases[] = {{1, "missing/rec.bds", "No such file or directory"},
                 {3, "v.avi", "no video encoder"}};
    RecorderEnvironment withoutVideo = Environment();
    withoutVideo.videoSinkFactory = nullptr;
    for (const auto& c : cases) {
        CStreamRecorder recorder(withoutVideo);
        ASSERT_EQ(recorder.OpenFile(kRecordingBinary, Path("open.bds")), 1);
        EXPECT_EQ(recorder.OpenFile(c.type, Path(c.path)), 0) << c.path;
        EXPECT_EQ(recorder.IsFileOpen(), 0);
        EXPECT_NE(recorder.GetLastError().find(c.reason), std::string::npos)
            << recorder.GetLastError();
        EXPECT_EQ(WriteOne(recorder, kRecordingBinary), 0);
    }
    // Each write goes only into a file of its own type.
    CStreamRecorder recorder(Environment());
    ASSERT_EQ(recorder.OpenFile(kRecordingBinary, Path("open.bds")), 1);
    EXPECT_EQ(WriteOne(recorder, kRecordingText), 0);
    EXPECT_EQ(WriteOne(recorder, kRecordingVideo), 0);
    EXPECT_EQ(fs::file_size(Path("open.bds")), 0u);
}

}  // namespace
