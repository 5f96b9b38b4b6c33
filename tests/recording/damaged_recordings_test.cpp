// Play-back of recordings that are cut off, empty, noise, or not files at all: the player hands
// out every whole record before the damage and nothing else, and never blocks or reads without
// end (an alarm ends a test that would hang).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "frame/binary_record_reader.h"
#include "recording/playback_rules.h"
#include "recording/played_records.h"
#include "recording/recording_files.h"
#include "recording/stream_player.h"

namespace fs = std::filesystem;

namespace {

class DamagedRecordings : public ::testing::Test {
  protected:
    void SetUp() override { ::alarm(60); }
    void TearDown() override { ::alarm(0); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path path = m_dir.path() / name;
        WriteFileBytes(path, bytes);
        return path.string();
    }

    ScratchDirectory m_dir{"damaged_recordings"};
};

// Cut at every record boundary, one byte after it and in the middle of each record: exactly the
// records before the cut play, the same as they play from the whole file.
TEST_F(DamagedRecordings, CutRecordingsPlayEveryWholeRecordBeforeTheCut) {
    for (const CutRecording& recording : ThreeFrameRecordings()) {
        const int type = PlayFileKindOf(recording.extension);
        CStreamPlayer whole;
        ASSERT_NE(whole.OpenForPlay(type, Write("whole", recording.bytes)), 0);
        const std::vector<std::string> expected = PlayAll(whole, type);
        ASSERT_EQ(expected.size(), 3u) << recording.extension;
        whole.ClosePlay();

        for (const std::size_t cut : recording.Cuts()) {
            const std::string what = recording.extension + " cut at " + std::to_string(cut);
            const std::size_t wholeRecords = recording.WholeBefore(cut);
            CStreamPlayer player;
            player.OpenForPlay(type,
                               Write("cut" + recording.extension, recording.bytes.substr(0, cut)));
            ASSERT_EQ(player.IsOpen(), 1) << what;
            const std::vector<std::string> played = PlayAll(player, type);
            // A record cut in its last text line still comes out; its parse decides.
            ASSERT_EQ(played.size(), wholeRecords + (recording.CutsInsideLastTextLine(cut) ? 1 : 0))
                << what;
            for (std::size_t i = 0; i < wholeRecords; ++i) {
                EXPECT_TRUE(played[i] == expected[i]) << what << ": record " << i;
            }
        }
    }
}

// Empty files and noise under each recording's name open (a file is a file) and give at most
// the records their length holds; things that are not files are refused at once.
TEST_F(DamagedRecordings, EmptyNoiseAndNonFilesNeverHangOrCrashThePlayer) {
    std::mt19937 random(11);
    std::string noise(3 * kBinaryRecordSize + 100, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    struct Type {
        const char* extension;
        int type;
        std::size_t noiseRecords;  // fixed-size records in the noise
    };
    const Type types[] = {{".bds", kPlayBinaryStream, 3},
                          {".txt", kPlayTextStream, 0},
                          {".bin", kPlayRawFrames, noise.size() / kRawFrameSize}};
    fs::create_directories(m_dir.path() / "folder.bds");
    ASSERT_EQ(::mkfifo((m_dir.path() / "fifo").c_str(), 0600), 0);
    for (const Type& type : types) {
        SCOPED_TRACE(type.extension);
        CStreamPlayer player;
        EXPECT_EQ(player.OpenForPlay(type.type, Write(std::string("empty") + type.extension, "")),
                  type.type == kPlayRawFrames ? 1 : 0);
        EXPECT_EQ(player.IsOpen(), 1);
        EXPECT_TRUE(PlayAll(player, type.type).empty());

        player.OpenForPlay(type.type, Write(std::string("noise") + type.extension, noise));
        EXPECT_EQ(player.IsOpen(), 1);
        const std::size_t played = PlayAll(player, type.type).size();
        if (type.type == kPlayTextStream) {
            EXPECT_LE(played, 1u);  // noise holds a few line feeds at most
        } else {
            EXPECT_EQ(played, type.noiseRecords);
        }

        for (const std::string& path :
             {(m_dir.path() / "folder.bds").string(), (m_dir.path() / "fifo").string(),
              std::string("/dev/null"), std::string("/dev/zero")}) {
            EXPECT_EQ(player.OpenForPlay(type.type, path), 0) << path;
            EXPECT_EQ(player.IsOpen(), 0) << path;
            EXPECT_TRUE(PlayAll(player, type.type).empty()) << path;
        }
    }
}

}  // namespace
