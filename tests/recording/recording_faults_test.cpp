// Recordings when the disk or the file system fails under them: a full disk (a file size limit,
// RLIMIT_FSIZE, in a child process: root ignores permissions, so a read-only disk cannot be
// staged honestly), the recording's directory removed, a file where the directory should be.
// Each recording type goes through the real recorder, video with the real encoder and movie
// writer, and what it left on disk is read back with the play-back and video readers.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/text_frame.h"
#include "played_records.h"
#include "processing/image_scaling.h"
#include "recording/avi_reader.h"
#include "recording/playback_rules.h"
#include "recording/stream_player.h"
#include "recording/stream_recorder.h"
#include "recording_files.h"

namespace fs = std::filesystem;

namespace {

// Writes frame number `n` of `type` the way the viewer does: binary and text through the
// recording step of a processed frame, video as a display image from the video timer.
class FrameSource {
  public:
    FrameSource() : m_image(kImageBytes) {}
    int Write(CStreamRecorder& recorder, int type, int n) {
        const FrameData frame = SpreadFrame(static_cast<uint16_t>(2950 + n), 2900, 3100);
        if (type == kRecordingVideo) {
            for (std::size_t i = 0; i < m_image.size(); ++i) {
                const std::size_t pixel = i / 3;
                m_image[i] = static_cast<uint8_t>(
                    (pixel / kImageWidth + pixel % kImageWidth / 2 + 5 * n + 40 * (i % 3)) & 0xFF);
            }
            return recorder.WriteVideoFrame(kImageWidth, kImageHeight, m_image.data());
        }
        uint8_t block[kFrameBlockSize];
        EncodeFrameBlock(frame, block);
        PutFrameMarker(block);
        const std::string text = RenderTemperatureText(frame, kUnitCelsius).text;
        const ProcessedFrame recordable{.modeLetter = 'K',
                                        .text = text,
                                        .block = block,
                                        .unit = kUnitCelsius,
                                        .subtractingOffsets = false};
        return recorder.RecordFrame(recordable, 1) == RecordOutcome::kWritten ? 1 : 0;
    }

  private:
    std::vector<uint8_t> m_image;
};

// The frames a reader takes from the file, and whether it found the file whole (only whole
// records, every one readable).
struct ReadBack {
    int frames = 0;
    bool whole = false;
};

ReadBack ReadRecording(int type, const std::string& path) {
    ReadBack result;
    if (type == kRecordingVideo) {
        CAviReader reader;
        if (reader.Open(path)) {
            result.frames = reader.FrameCount();
            result.whole = reader.FramesEnd() == nullptr;
        }
        return result;
    }
    CStreamPlayer player;
    const bool isBinary = type == kRecordingBinary;
    const int playType = isBinary ? kPlayBinaryStream : kPlayTextStream;
    if (player.OpenForPlay(playType, path) == 0) {
        return result;
    }
    const std::vector<std::string> records = PlayAll(player, playType);
    result.frames = static_cast<int>(records.size());
    result.whole = !isBinary || fs::file_size(path) % kBinaryRecordSize == 0;
    for (const std::string& record : records) {
        if (isBinary) {
            result.whole = result.whole && record.rfind("Mode=T", 0) == 0;
            continue;
        }
        const TextRecordParts parts = SplitTextRecord(record);
        result.whole = result.whole && parts.header.rfind("Mode=C", 0) == 0 &&
                       ParseTextFrame(parts.frameText, 'C');
    }
    return result;
}

std::string PathFor(const ScratchDirectory& dir, int type, const std::string& name) {
    static const char* const kExtensions[] = {"", ".bds", ".txt", ".avi"};
    return (dir.path() / (name + kExtensions[type])).string();
}

TEST(RecordingFaults, FullDiskStopsEachTypeWithAReasonAndKeepsEveryFrameWritten) {
    ScratchDirectory dir("recording_faults_full");
    const struct {
        int type;
        rlim_t limit;
        const char* reason;
    } cases[] = {
        {kRecordingBinary, 10000, "File too large"},  // four records and part of the fifth
        {kRecordingText, 40000, "File too large"},
        {kRecordingVideo, 150000, "cannot write the video"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const std::string path = PathFor(dir, c.type, "full");
        // Exit status: frames written before the stop; 200 no stop, 201 no reason, 202 a write
        // taken after the stop, 203 no open.
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.limit, c.limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            FrameSource source;
            CStreamRecorder recorder;
            if (recorder.OpenFile(c.type, path) != 1) {
                ::_exit(203);
            }
            int n = 0;
            while (n < 150 && source.Write(recorder, c.type, n) == 1) {
                ++n;
            }
            if (n == 150) {
                ::_exit(200);
            }
            if (recorder.GetLastError().find(c.reason) == std::string::npos) {
                ::_exit(201);
            }
            for (int k = 0; k < 5; ++k) {
                if (source.Write(recorder, c.type, n + k) != 0) {
                    ::_exit(202);
                }
            }
            recorder.CloseFile();  // completes the movie
            ::_exit(n);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        const int written = WEXITSTATUS(status);
        ASSERT_LT(written, 200) << "200 no stop, 201 no reason, 202 written after the stop";
        EXPECT_GT(written, 0);
        EXPECT_LE(fs::file_size(path), c.limit);
        const ReadBack back = ReadRecording(c.type, path);
        EXPECT_TRUE(back.whole);
        if (c.type == kRecordingVideo) {
            // The movie's index needs room too: when the failed frame left none, the frame
            // before it gives its place, so that the file stays playable.
            EXPECT_GE(back.frames, written - 1);
            EXPECT_LE(back.frames, written);
        } else {
            EXPECT_EQ(back.frames, written);
        }
    }
}

TEST(RecordingFaults, BrokenDirectoryStopsEachTypeWithAReason) {
    ScratchDirectory dir("recording_faults_directory");
    for (const int type : {kRecordingBinary, kRecordingText, kRecordingVideo}) {
        SCOPED_TRACE(type);
        FrameSource source;
        // A file where the directory should be: binary and text fail to open; a video opens its
        // encoder and fails at its first frame, which creates the file.
        WriteFileBytes(dir.path() / "plain", "x");
        CStreamRecorder recorder;
        const std::string underFile = PathFor(dir, type, "plain/rec");
        if (type == kRecordingVideo) {
            ASSERT_EQ(recorder.OpenFile(type, underFile), 1);
            EXPECT_EQ(source.Write(recorder, type, 0), 0);
        } else {
            EXPECT_EQ(recorder.OpenFile(type, underFile), 0);
            EXPECT_NE(recorder.GetLastError().find("Not a directory"), std::string::npos)
                << recorder.GetLastError();
        }

        // The directory removed while recording: the loss is noticed within a few frames, and
        // every frame after it is refused instead of going into a file without a name.
        fs::create_directories(dir.path() / "gone");
        ASSERT_EQ(recorder.OpenFile(type, PathFor(dir, type, "gone/rec")), 1);
        ASSERT_EQ(source.Write(recorder, type, 0), 1);
        fs::remove_all(dir.path() / "gone");
        int n = 1;
        while (n < 100 && source.Write(recorder, type, n) == 1) {
            ++n;
        }
        EXPECT_LE(n, 17);
        EXPECT_EQ(source.Write(recorder, type, n + 1), 0);
        EXPECT_NE(recorder.GetLastError(), "");
        recorder.CloseFile();
        EXPECT_FALSE(fs::exists(dir.path() / "gone"));  // nothing recreated it
    }
}

// A file that has no name from the start (O_TMPFILE, as `thermal convert` writes its outputs
// until they are complete), opened through "/proc/self/fd/N", has no name to lose: the check
// for a removed file lets every frame through.
TEST(RecordingFaults, UnnamedFileOpenedThroughItsDescriptorIsNotTakenForRemoved) {
    ScratchDirectory dir("recording_faults_unnamed");
    for (const int type : {kRecordingBinary, kRecordingText, kRecordingVideo}) {
        SCOPED_TRACE(type);
        const int fd = ::open(dir.path().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
            GTEST_SKIP() << "no unnamed files on this file system";
        }
        ASSERT_GE(fd, 0) << std::strerror(errno);
        FrameSource source;
        CStreamRecorder recorder;
        ASSERT_EQ(recorder.OpenFile(type, "/proc/self/fd/" + std::to_string(fd)), 1);
        for (int n = 0; n < 40; ++n) {
            ASSERT_EQ(source.Write(recorder, type, n), 1) << n << ": " << recorder.GetLastError();
        }
        recorder.CloseFile();
        EXPECT_EQ(recorder.GetLastError(), "");
        struct stat info {};
        ASSERT_EQ(::fstat(fd, &info), 0);
        EXPECT_GT(info.st_size, 40);
        ::close(fd);
        EXPECT_TRUE(fs::is_empty(dir.path()));
    }
}

}  // namespace
