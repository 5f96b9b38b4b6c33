// `thermal stream` run as the user runs it, against the simulated module on a real
// pseudo-terminal, its output read by Python's json and csv modules. The frames the module sent
// are built again from the same seed, recorded into a .bds and converted by `thermal convert`: the
// stream must hold the very numbers of that CSV.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "convert_test_support.h"
#include "device/module_simulator.h"
#include "device/simulated_scene.h"
#include "frame/binary_record.h"
#include "support/scratch_directory.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Checks a stream's records against the frames of a CSV of `thermal convert` and prints
// "ok FRAMES". Arguments: format, stream, reference CSV, mode letter, unit, region or "-", the
// largest difference a mean may have from the mean of the printed values, the UTC offset.
constexpr char kReader[] = R"(import csv, json, re, sys
from datetime import datetime, timezone
fmt, out, ref, mode, unit, region, tolerance, offset = sys.argv[1:]
tolerance = float(tolerance)
rows = [r for r in csv.reader(open(ref, newline='')) if not r[0].startswith('#')]
expected = [[[float(x) for x in r] for r in rows[i:i + 31]] for i in range(0, len(rows), 31)]
records = []
if fmt == 'ndjson':
    for line in open(out):
        records.append(json.loads(line))
else:
    reader = csv.DictReader(open(out, newline=''))
    names = ['frame', 'time', 'min', 'max', 'mean']
    names += ['region_min', 'region_mean', 'region_max'] if region != '-' else []
    assert reader.fieldnames[:len(names)] == names, reader.fieldnames[:len(names)]
    assert len(reader.fieldnames) == len(names) + 992
    for r in reader:
        record = {k: r[k] if k == 'time' else float(r[k]) for k in names}
        record['values'] = [[float(r['r%dc%d' % (i, j)]) for j in range(1, 33)]
                            for i in range(1, 32)]
        if region != '-':
            record['region'] = {k: record['region_' + k] for k in ('min', 'mean', 'max')}
        record['mode'], record['unit'] = mode, unit
        records.append(record)
assert len(records) == len(expected), (len(records), len(expected))
last = None
for number, (record, frame) in enumerate(zip(records, expected), 1):
    assert record['frame'] == number, (record['frame'], number)
    assert record['mode'] == mode and record['unit'] == unit, (record['mode'], record['unit'])
    assert record['values'] == frame, 'frame %d differs from the CSV' % number
    assert re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d', record['time'])
    assert record['time'].endswith(offset), record['time']
    time = datetime.fromisoformat(record['time'])
    assert abs((datetime.now(timezone.utc) - time).total_seconds()) < 60, record['time']
    assert last is None or time >= last
    last = time
    pixels = [v for row in frame for v in row]
    assert (record['min'], record['max']) == (min(pixels), max(pixels))
    assert abs(record['mean'] - sum(pixels) / len(pixels)) <= tolerance, record['mean']
    if region != '-':
        r1, c1, r2, c2 = (int(x) for x in region.split(','))
        inside = [frame[r][c] for r in range(min(r1, r2) - 1, max(r1, r2))
                  for c in range(min(c1, c2) - 1, max(c1, c2))]
        got = record['region']
        assert (got['min'], got['max']) == (min(inside), max(inside)), got
        assert abs(got['mean'] - sum(inside) / len(inside)) <= tolerance, got
print('ok', len(records))
)";

SimulatorOptions Module(uint32_t seed, double fps) {
    SimulatorOptions options;
    options.seed = seed;
    options.fps = fps;
    return options;
}

// Waits until the simulated module has received `bytes` (the stop bytes come last).
bool ModuleReceived(const CModuleSimulator& sim, const std::string& bytes) {
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (sim.ReceivedBytes() != bytes && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
    }
    return sim.ReceivedBytes() == bytes;
}

class ThermalStream : public ::testing::Test {
  protected:
    // The first `count` frames the module of `seed` streams, as a binary stream.
    fs::path RecordingOfSentFrames(uint32_t seed, bool isTemperature, int count) const {
        std::mt19937 rng(seed);
        std::string bytes;
        for (int i = 0; i < count; ++i) {
            const SimFrameBlock block =
                BuildSimulatedFrame(static_cast<uint64_t>(i), isTemperature, rng);
            const BinaryRecord record = EncodeBinaryRecord(isTemperature ? 'K' : 't', block.data());
            bytes.append(record.begin(), record.end());
        }
        const fs::path path = m_dir / "sent.bds";
        WriteFileBytes(path, bytes);
        return path;
    }

    const ScratchDirectory m_scratch{"thermal_stream"};
    const fs::path& m_dir = m_scratch.path();
};

TEST_F(ThermalStream, PythonReadsTheFramesOfConvertsCsvFromEitherFormat) {
    struct Case {
        const char* options;      // of the stream alone
        const char* processing;   // of the stream and of the conversion
        const char* environment;  // an offset from UTC that is not whole hours shows its minutes
        const char* mode;
        const char* unit;
        const char* region;
        const char* tolerance;
        const char* offset;
    };
    const Case cases[] = {
        {"--region 3,30,1,2", "", "TZ=XYZ-5:30", "K", "C", "3,30,1,2", "0.1001", "+05:30"},
        {"--format csv --region 31,32,31,32", "--unit K --stack 2", "TZ=UTC0", "K", "K",
         "31,32,31,32", "0.1001", "+00:00"},
        {"--format csv --voltage", "", "TZ=XYZ+3", "t", "V", "-", "0.00011", "-03:00"},
        {"", "--unit F --mirror both", "TZ=UTC0", "K", "F", "-", "0.1001", "+00:00"},
    };
    WriteFileBytes(m_dir / "read.py", kReader);
    constexpr int kFrames = 6;
    uint32_t seed = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " " + c.processing);
        const bool isTemperature = std::string(c.mode) == "K";
        CModuleSimulator sim(Module(++seed, 300));
        ASSERT_EQ(sim.Start(), "");
        const ToolResult stream =
            RunShell(std::string(c.environment) + " " + kThermalTool.string() + " stream --port " +
                         sim.SlavePath() + " --frames " + std::to_string(kFrames) + " " +
                         c.options + " " + c.processing,
                     m_dir / "stream");
        ASSERT_EQ(stream.status, 0) << stream.errors;
        EXPECT_NE(stream.errors.find("6 frames streamed"), std::string::npos) << stream.errors;
        EXPECT_EQ(LineCount(stream.errors), 1) << stream.errors;
        EXPECT_TRUE(ModuleReceived(sim, isTemperature ? "xMKTxx" : "xMtTxx"))
            << sim.ReceivedBytes();
        WriteFileBytes(m_dir / "out", stream.out);

        // The reference: the same frames converted with the same processing options.
        const ToolResult converted =
            RunTool("convert " + RecordingOfSentFrames(seed, isTemperature, kFrames).string() +
                        " " + (m_dir / "ref.csv").string() + " " + c.processing,
                    m_dir / "convert");
        ASSERT_EQ(converted.status, 0) << converted.errors;

        const ToolResult read = RunShell(
            "python3 " + (m_dir / "read.py").string() + " " +
                (std::string(c.options).find("csv") != std::string::npos ? "csv " : "ndjson ") +
                (m_dir / "out").string() + " " + (m_dir / "ref.csv").string() + " " + c.mode + " " +
                c.unit + " " + c.region + " " + c.tolerance + " " + c.offset,
            m_dir / "python");
        EXPECT_EQ(read.out, "ok 6\n") << read.errors;
    }
}

// A reader that stops reading (`head`) ends the stream as a limit does, with status 0; an output
// that cannot be written fails it. Either way the module is turned off.
TEST_F(ThermalStream, EndsWhenTheOutputEndsAndFailsWhenItCannotBeWritten) {
    const struct {
        const char* output;
        int status;
        int lines;            // read by `head`
        const char* message;  // on standard error
    } cases[] = {
        {"| head -n 5", 0, 5, " frames streamed"},
        {"> /dev/full", 1, 0, "cannot write to standard output: No space left on device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        CModuleSimulator sim(Module(61, 100));
        ASSERT_EQ(sim.Start(), "");
        const ToolResult result =
            RunShell("bash -c '" + kThermalTool.string() + " stream --port " + sim.SlavePath() +
                         " " + c.output + "; exit ${PIPESTATUS[0]}'",
                     m_dir / "run");
        EXPECT_EQ(result.status, c.status) << result.errors;
        EXPECT_EQ(LineCount(result.out), c.lines);
        if (c.lines > 0) {
            EXPECT_NE(result.out.find("\n{\"frame\":5,"), std::string::npos) << result.out;
        }
        EXPECT_NE(result.errors.find(c.message), std::string::npos) << result.errors;
        EXPECT_TRUE(ModuleReceived(sim, "xMKTxx")) << sim.ReceivedBytes();
    }
}

// A stop signal ends the stream within a second and turns the module off whatever the reader
// does, also one that stopped reading with a full pipe (`sleep 300 <fifo`); each line counted as
// streamed is whole in the output, and a line that could not get out is not counted.
TEST_F(ThermalStream, StopSignalsEndItWhateverTheReaderDoes) {
    const struct {
        const char* signal;
        bool keepsReading;  // `cat` reads the FIFO; else the test holds it open unread
    } cases[] = {{"TERM", false}, {"INT", false}, {"TERM", true}};
    const std::string fifo = (m_dir / "fifo").string();
    const std::string out = (m_dir / "out").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.signal) + (c.keepsReading ? " cat" : " unread"));
        const int unread = c.keepsReading ? -1 : ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        const std::string reader = c.keepsReading ? "cat " + fifo + " > " + out + " & " : "";
        CModuleSimulator sim(Module(62, 300));
        ASSERT_EQ(sim.Start(), "");
        // Prints the milliseconds from the signal to the end (5000 at most), then the status.
        const ToolResult run = RunShell(
            "(" + reader + kThermalTool.string() + " stream --port " + sim.SlavePath() + " > " +
                fifo + " 2> " + (m_dir / "err").string() +
                " & p=$!; sleep 1.5; s=$(date +%s%N); kill -" + c.signal +
                " $p; timeout 5 tail -s 0.01 --pid=$p -f /dev/null; echo $((($(date +%s%N) - s) /"
                " 1000000)); kill -KILL $p 2>/dev/null; wait $p; echo $?)",
            m_dir / "run");
        const std::string errors = ReadWhole(m_dir / "err");
        int milliseconds = 0;
        int status = -1;
        ASSERT_EQ(std::sscanf(run.out.c_str(), "%d %d", &milliseconds, &status), 2) << run.out;
        EXPECT_LT(milliseconds, 5000) << errors;
        EXPECT_EQ(status, 0) << errors;
        EXPECT_TRUE(ModuleReceived(sim, "xMKTxx")) << sim.ReceivedBytes();
        std::string lines;
        if (!c.keepsReading) {
            char buffer[65536];
            for (ssize_t n; (n = ::read(unread, buffer, sizeof buffer)) > 0;) {
                lines.append(buffer, static_cast<std::size_t>(n));
            }
            ::close(unread);
        } else {
            lines = ReadWhole(out);
            EXPECT_EQ(lines.back(), '\n');
        }
        const std::size_t streamed = errors.find(" frames streamed");
        ASSERT_NE(streamed, std::string::npos) << errors;
        EXPECT_EQ(LineCount(lines), std::stoi(errors.substr(errors.rfind(' ', streamed - 1))));
        EXPECT_EQ(errors.find("the reader was not reading") != std::string::npos, !c.keepsReading)
            << errors;
    }
}

}  // namespace
