#include "info_video.h"

#include <cstdio>
#include <string_view>

#include "info_problem_list.h"
#include "platform/one_line.h"
#include "recording/avi_reader.h"
#include "recording/avi_video_stream.h"
#include "recording/mpeg4_video.h"

namespace {

ProblemKind KindOf(AviProblemKind kind) {
    switch (kind) {
        case AviProblemKind::kFramesEnd:
            return kVideoEnd;
        case AviProblemKind::kIndex:
            return kVideoIndex;
        case AviProblemKind::kFrameCount:
            return kVideoFrameCount;
        case AviProblemKind::kLayout:
            break;
    }
    return kVideoLayout;
}

// The reader's problem texts name the frame and byte they are about, for the player's status
// line; the report puts those in front of every line already, so they are not said twice.
std::string WithoutPlace(const AviProblem& problem) {
    const std::string frame = "frame " + std::to_string(problem.frame);
    for (const std::string& lead :
         {frame + " at byte " + std::to_string(problem.byteOffset) + ": ", frame + ": "}) {
        if (problem.text.starts_with(lead)) {
            return problem.text.substr(lead.size());
        }
    }
    return problem.text;
}

// A frame rate as people write it: "20", "29.97", "12.5".
std::string RateText(double framesPerSecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", framesPerSecond);
    std::string_view shown = text;
    while (shown.ends_with('0')) {
        shown.remove_suffix(1);
    }
    if (shown.ends_with('.')) {
        shown.remove_suffix(1);
    }
    return std::string(shown);
}

// Frames in a row that gave no picture of their own, reported as one problem.
struct NoPictureRun {
    int first = -1;
    int last = -1;
    bool empty = false;  // frames of 0 bytes, or frames whose bytes gave no picture
};

void AddNoPictureRun(const CAviReader& reader, const NoPictureRun& run, ProblemList& problems) {
    if (run.first < 0) {
        return;
    }
    const bool one = run.first == run.last;
    const std::string frames =
        one ? "the frame is"
            : "frames " + std::to_string(run.first) + " to " + std::to_string(run.last) + " are";
    std::string text;
    if (run.empty) {
        // Our recorder writes an empty frame where the encoder failed, to keep the timing.
        text = frames + " empty (0 bytes), as the recorder stores " + (one ? "a frame" : "frames") +
               " it could not encode: no picture, the video "
               "player shows the one before again";
    } else {
        text = (one ? "the frame gives"
                    : "frames " + std::to_string(run.first) + " to " + std::to_string(run.last) +
                          " give") +
               " no picture: the decoder finds none in " + (one ? "its" : "their") +
               " bytes; the video player shows the one before, or black before the first";
    }
    problems.Add(kNotDecoded, reader.Frame(run.first).offset - kChunkHeaderBytes, run.first, text);
}

// Decodes the frames in order as the video player plays them, each once. A frame that does
// not decode spoils the frames that build on it, up to the next key frame, so decoding goes on
// from there. A frame that decodes without a picture of its own (an empty frame, bytes that
// hold none) is a problem too. Returns the number of frames that gave a picture.
int DecodeEveryFrame(const CAviReader& reader, CAviVideoStream& stream, ProblemList& problems) {
    const int count = reader.FrameCount();
    int decoded = 0;
    NoPictureRun run;
    for (int n = 0; n < count;) {
        if (stream.ShowFrame(n)) {
            if (stream.FrameGavePicture()) {
                ++decoded;
                AddNoPictureRun(reader, run, problems);
                run = {};
            } else {
                const bool empty = reader.Frame(n).size == 0;
                if (run.first >= 0 && run.last == n - 1 && run.empty == empty) {
                    run.last = n;
                } else {
                    AddNoPictureRun(reader, run, problems);
                    run = {n, n, empty};
                }
            }
            ++n;
            continue;
        }
        AddNoPictureRun(reader, run, problems);
        run = {};
        int next = n + 1;
        while (next < count && !reader.IsKeyFrame(next)) {
            ++next;
        }
        std::string text = stream.ErrorText();
        const std::string lead = "frame " + std::to_string(n) + " cannot be decoded: ";
        if (text.starts_with(lead)) {
            text = "the frame does not decode: " + text.substr(lead.size());
        }
        if (next > n + 1) {
            text += "; frames " + std::to_string(n + 1) + " to " + std::to_string(next - 1) +
                    " build on it";
        }
        problems.Add(kNotDecoded, reader.Frame(n).offset - kChunkHeaderBytes, n, text);
        n = next;
    }
    AddNoPictureRun(reader, run, problems);
    return decoded;
}

}  // namespace

int InspectVideo(const std::string& path, std::size_t maxProblems, bool decode, bool separate) {
    // The stream holds the reader; without --decode no decoder is set up.
    CAviVideoStream stream(XvidPictureLayout::kBgr);
    CAviReader plainReader;
    std::string decodeText;
    if (decode && !stream.Open(path)) {
        decodeText = "not done: " + stream.ErrorText();
    }
    const bool decoding = stream.IsOpen();
    if (!decoding && !plainReader.Open(path)) {
        std::fprintf(stderr, "thermal info: %s\n", OneLine(plainReader.ErrorText()).c_str());
        return 2;
    }
    const CAviReader& reader = decoding ? stream.Reader() : plainReader;

    ProblemList problems(maxProblems);
    for (const AviProblem& problem : reader.Problems()) {
        problems.Add(KindOf(problem.kind), problem.byteOffset,
                     problem.frame < 0 ? kNoFrame : problem.frame, WithoutPlace(problem));
    }
    const int frames = reader.FrameCount();
    if (decoding) {
        const int decoded = DecodeEveryFrame(reader, stream, problems);
        decodeText = decoded == frames ? "every frame decodes"
                                       : std::to_string(decoded) + " of " + std::to_string(frames) +
                                             " frames decode";
    }

    if (separate) {
        std::printf("\n");
    }
    std::printf("%s\n  type: video (AVI)\n", OneLine(path).c_str());
    const bool isMpeg4 =
        IsMpeg4Part2FourCc(reader.Compression()) || IsMpeg4Part2FourCc(reader.Handler());
    std::string codec = FourCcText(reader.Compression());
    if (reader.Handler() != 0) {
        codec += " (stream handler '" + FourCcText(reader.Handler()) + "')";
    }
    codec += isMpeg4 ? ", MPEG-4 part 2"
                     : ", not MPEG-4 part 2 (Xvid, DivX 4 or 5): the video player does not play it";
    std::printf("  codec: %s\n", codec.c_str());
    std::printf("  frame size: %d x %d pixels\n", reader.Width(), reader.Height());
    const double rate = reader.FramesPerSecond();
    const std::string rateText = RateText(rate);
    std::printf("  frame rate: %s\n",
                rate > 0 ? (rateText + " fps").c_str() : "unknown (the file gives none)");
    if (frames == 0) {
        std::printf("  frames: 0 whole frames\n");
    } else {
        std::printf(
            "  frames: %d whole frames, numbered 0 to %d as the video player numbers them\n",
            frames, frames - 1);
    }
    int keyFrames = 0;
    for (int n = 0; n < frames; ++n) {
        keyFrames += reader.IsKeyFrame(n) ? 1 : 0;
    }
    std::printf("  key frames: %d\n", keyFrames);
    if (rate > 0) {
        std::printf("  duration: %.2f s at %s fps\n", frames / rate, rateText.c_str());
    } else {
        std::printf("  duration: unknown (no frame rate)\n");
    }
    if (decode) {
        std::printf("  decoding: %s\n", decodeText.c_str());
    }
    problems.Print();
    std::fflush(stdout);
    return problems.Total() == 0 ? 0 : 1;
}
