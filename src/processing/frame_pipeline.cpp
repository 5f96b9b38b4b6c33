#include "processing/frame_pipeline.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "processing/color_mapping.h"
#include "processing/frame_queue.h"
#include "processing/frame_stack.h"
#include "processing/markers.h"
#include "processing/palette.h"

namespace {

constexpr std::chrono::milliseconds kWaitSlice{500};
constexpr std::chrono::milliseconds kStopTimeout{2000};

// The buffers of the frame in progress. One set belongs to the processing thread, one to the
// synchronous entry points, so the two paths never write into each other's frame.
struct WorkArea {
    // The settings the frame is made with, taken together when its processing begins.
    MadeFrameSettings settings;
    FrameData frame{};
    uint8_t small[kSmallImageBytes] = {};
    // Sized by the first frame: a pipeline that never sees a frame (a viewer left idle, the
    // synchronous set when nothing is played back) keeps no display image in memory.
    std::vector<uint8_t> image;
    MarkerCell minCell;
    MarkerCell maxCell;
    TextRendering text;
    uint32_t palette[kPaletteSize] = {};
};

}  // namespace

struct CFramePipeline::State {
    // Settings any thread may store at any time. Single values are atomics; values that change
    // together are stored and taken together under one lock, so a frame never sees half of an
    // update.
    std::atomic<int> mirrorMode{kMirrorNone};
    std::atomic<int> unit{kUnitKelvin};
    std::atomic<int> interpolate{0};
    std::atomic<int> subtractElOffsets{0};

    mutable std::mutex pairLock;  // guards scale, centre, firstPixel and pixelCount
    ColourScale scale;            // mode with both manual bounds
    float centre = 0.0f;
    int firstPixel = 1;
    int pixelCount = kTextFieldCount;

    mutable std::mutex paletteLock;  // guards paletteTable
    uint32_t paletteTable[kPaletteSize] = {};

    mutable std::mutex stackLock;  // guards stacks and stacksRun
    CFrameStack stacks;
    uint64_t stacksRun = 0;  // the run of the frames the stacks hold
    // The current run, taken by every frame as it is queued or processed synchronously.
    std::atomic<uint64_t> run{0};

    mutable std::mutex callbackLock;  // guards callback and callbackOwner
    FrameReadyCallback callback = nullptr;
    void* callbackOwner = nullptr;

    mutable std::mutex resultLock;  // guards minText, maxText and header
    std::string minText;
    std::string maxText;
    uint16_t header[kHeaderWordCount] = {};

    CFrameQueue queue;
    // What became of the queued blocks; atomics, written by producers and the processing thread.
    std::atomic<uint64_t> framesQueued{0};
    std::atomic<uint64_t> framesProcessed{0};
    std::atomic<uint64_t> framesReplaced{0};
    std::atomic<uint64_t> framesRejected{0};

    std::mutex endLock;  // guards threadEnded
    std::condition_variable endEvent;
    bool threadEnded = false;

    WorkArea threadWork;  // processing thread only
    WorkArea callerWork;  // synchronous entry points only

    void TakeSettings(WorkArea& work) const;
    void ColourAndEnlarge(WorkArea& work, char modeLetter, DisplayImage image);
    void RenderAndPublish(WorkArea& work, bool voltage, bool temperature);
    void Deliver(WorkArea& work, char modeLetter, const uint8_t* raw, DisplayImage image);
    int ProcessBlock(WorkArea& work, char modeLetter, int byteCount, const uint8_t* bytes,
                     uint64_t frameRun, DisplayImage image);
    static void Run(std::shared_ptr<State> state);
};

void CFramePipeline::State::TakeSettings(WorkArea& work) const {
    work.settings.mirrorMode = mirrorMode.load();
    work.settings.unit = unit.load();
    work.settings.interpolate = interpolate.load() != 0;
    work.settings.subtractingOffsets = subtractElOffsets.load() != 0;
}

void CFramePipeline::State::ColourAndEnlarge(WorkArea& work, char modeLetter, DisplayImage image) {
    // Subtracted here rather than by the colour mapping, so that a frame made without its
    // picture holds the same values.
    if (IsVoltageMode(modeLetter) && work.settings.subtractingOffsets) {
        SubtractElOffsets(work.frame.values, work.frame.offsets);
    }
    if (image == DisplayImage::kSkip) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(paletteLock);
        std::memcpy(work.palette, paletteTable, sizeof work.palette);
    }
    ColourScale frameScale;
    {
        std::lock_guard<std::mutex> lock(pairLock);
        frameScale = scale;
    }
    MapFrameColours(modeLetter, work.frame.values, work.frame.offsets, false, frameScale,
                    work.palette, work.settings.mirrorMode, work.small, work.minCell, work.maxCell);
    work.image.resize(kImageBytes);
    BuildDisplayImage(work.small, work.settings.interpolate, work.image.data());
}

void CFramePipeline::State::RenderAndPublish(WorkArea& work, bool voltage, bool temperature) {
    if (voltage) {
        RenderVoltageTextInto(work.frame, work.text);
    } else if (temperature) {
        RenderTemperatureTextInto(work.frame, work.settings.unit, work.text);
    } else {
        work.text.text.clear();
    }
    std::lock_guard<std::mutex> lock(resultLock);
    if (voltage || temperature) {
        minText = work.text.minText;
        maxText = work.text.maxText;
    }
    std::memcpy(header, work.frame.header, sizeof header);
}

void CFramePipeline::State::Deliver(WorkArea& work, char modeLetter, const uint8_t* raw,
                                    DisplayImage image) {
    FrameReadyCallback target;
    void* owner;
    {
        std::lock_guard<std::mutex> lock(callbackLock);
        target = callback;
        owner = callbackOwner;
    }
    if (target != nullptr) {
        target(owner, &modeLetter, work.text.text, raw,
               image == DisplayImage::kMake ? work.image.data() : nullptr, work.frame.values);
    }
}

int CFramePipeline::State::ProcessBlock(WorkArea& work, char modeLetter, int byteCount,
                                        const uint8_t* bytes, uint64_t frameRun,
                                        DisplayImage image) {
    if (byteCount != kFrameBlockSize || bytes == nullptr) {
        return 0;
    }
    TakeSettings(work);
    DecodeFrameBlock(bytes, work.frame);
    {
        std::lock_guard<std::mutex> lock(stackLock);
        if (frameRun != stacksRun) {
            stacks.Clear();
            stacksRun = frameRun;
        }
        stacks.Push(work.frame.values, work.frame.offsets);
        stacks.Average(work.frame.values, work.frame.offsets);
    }
    ColourAndEnlarge(work, modeLetter, image);
    if (image == DisplayImage::kMake) {
        DrawMarkers(work.image.data(), work.minCell, work.maxCell);
    }
    RenderAndPublish(work, IsVoltageMode(modeLetter), IsTemperatureMode(modeLetter));
    Deliver(work, modeLetter, bytes, image);
    return 1;
}

void CFramePipeline::State::Run(std::shared_ptr<State> state) {
    for (;;) {
        const CFrameQueue::WaitResult result = state->queue.Wait(kWaitSlice);
        if (result == CFrameQueue::WaitResult::kStopped) {
            break;
        }
        if (result == CFrameQueue::WaitResult::kWork) {
            const int replaced = state->queue.DrainPending([&state](QueuedFrame& frame) {
                const int processed =
                    state->ProcessBlock(state->threadWork, frame.modeLetter, frame.byteCount,
                                        frame.bytes.data(), frame.run, DisplayImage::kMake);
                ++(processed != 0 ? state->framesProcessed : state->framesRejected);
            });
            state->framesReplaced += static_cast<uint64_t>(replaced);
        }
    }
    {
        std::lock_guard<std::mutex> lock(state->endLock);
        state->threadEnded = true;
    }
    state->endEvent.notify_all();
}

CFramePipeline::CFramePipeline() : m_state(std::make_shared<State>()) {
    BuildPalette(4, m_state->paletteTable);
    m_thread = std::thread(&State::Run, m_state);  // the frame processing thread
}

CFramePipeline::~CFramePipeline() {
    StopThread();
}

void CFramePipeline::StopThread() {
    if (!m_thread.joinable()) {
        return;
    }
    m_state->queue.RequestStop();
    bool ended;
    {
        std::unique_lock<std::mutex> lock(m_state->endLock);
        ended =
            m_state->endEvent.wait_for(lock, kStopTimeout, [this] { return m_state->threadEnded; });
    }
    if (ended) {
        m_thread.join();
    } else {
        // Killing a thread can leave locks held and buffers half-written; the thread owns a
        // share of the state and ends by itself once its callback returns.
        m_thread.detach();
    }
}

void CFramePipeline::QueueFrame(char modeLetter, int byteCount, const uint8_t* bytes) {
    QueuedFrame frame;
    frame.modeLetter = modeLetter;
    frame.byteCount = byteCount;
    frame.run = m_state->run.load();
    if (bytes != nullptr && byteCount > 0) {
        frame.bytes.assign(bytes, bytes + byteCount);
    } else {
        frame.byteCount = 0;
    }
    ++m_state->framesQueued;
    m_state->queue.Push(std::move(frame));
}

PipelineCounts CFramePipeline::Counts() const {
    PipelineCounts counts;
    counts.framesQueued = m_state->framesQueued.load();
    counts.framesProcessed = m_state->framesProcessed.load();
    counts.framesReplaced = m_state->framesReplaced.load();
    counts.framesRejected = m_state->framesRejected.load();
    counts.framesWaiting = m_state->queue.Size();
    return counts;
}

int CFramePipeline::ProcessFrameNow(char modeLetter, int byteCount, const uint8_t* bytes,
                                    DisplayImage image) {
    return m_state->ProcessBlock(m_state->callerWork, modeLetter, byteCount, bytes,
                                 m_state->run.load(), image);
}

int CFramePipeline::ProcessTextFrame(int offsetsSubtracted, char fileMode, std::string_view text,
                                     DisplayImage image) {
    const std::optional<FrameData> parsed = ParseTextFrame(text, fileMode);
    if (!parsed) {
        return 0;
    }
    WorkArea& work = m_state->callerWork;
    m_state->TakeSettings(work);
    work.frame = *parsed;
    if (offsetsSubtracted != 0) {
        AddElOffsets(work.frame.values, work.frame.offsets);
    }
    const bool voltage = fileMode == 'V';
    const char modeLetter = voltage ? 't' : 'k';
    m_state->ColourAndEnlarge(work, modeLetter, image);
    m_state->RenderAndPublish(work, voltage, !voltage);
    m_state->Deliver(work, modeLetter, nullptr, image);
    return 1;
}

MadeFrameDetails CFramePipeline::CallerFrameDetails() const {
    const WorkArea& work = m_state->callerWork;
    return {work.settings, work.text.minText, work.text.maxText,
            VddCodeFromHeader(work.frame.header), AmbientCodeFromHeader(work.frame.header)};
}

void CFramePipeline::MapRawFrame(const uint16_t values[kPixelCount], uint8_t* smallImage,
                                 uint8_t* image) const {
    if (values == nullptr || smallImage == nullptr || image == nullptr) {
        return;
    }
    uint32_t palette[kPaletteSize];
    {
        std::lock_guard<std::mutex> lock(m_state->paletteLock);
        std::memcpy(palette, m_state->paletteTable, sizeof palette);
    }
    ::MapRawFrame(values, palette, smallImage, image);
}

void CFramePipeline::SetCallback(FrameReadyCallback callback, void* owner) {
    std::lock_guard<std::mutex> lock(m_state->callbackLock);
    m_state->callback = callback;
    m_state->callbackOwner = owner;
}

void CFramePipeline::SelectPalette(int number) {
    std::lock_guard<std::mutex> lock(m_state->paletteLock);
    BuildPalette(number, m_state->paletteTable);
}

void CFramePipeline::SetMirrorMode(int mode) {
    m_state->mirrorMode = mode;
}
int CFramePipeline::GetMirrorMode() const {
    return m_state->mirrorMode;
}
void CFramePipeline::SetUnit(int unit) {
    m_state->unit = unit;
}
int CFramePipeline::GetUnit() const {
    return m_state->unit;
}
void CFramePipeline::SetInterpolation(int flag) {
    m_state->interpolate = flag != 0 ? 1 : 0;
}
int CFramePipeline::IsInterpolation() const {
    return m_state->interpolate;
}

void CFramePipeline::SetElOffsetSubtraction(int flag) {
    m_state->subtractElOffsets = flag != 0 ? 1 : 0;
}

int CFramePipeline::IsElOffsetSubtraction() const {
    return m_state->subtractElOffsets;
}
void CFramePipeline::SetAutoScaling() {
    std::lock_guard<std::mutex> lock(m_state->pairLock);
    m_state->scale.mode = kScalingAutomatic;
}

void CFramePipeline::SetManualScaling(float upper, float lower, float centre) {
    std::lock_guard<std::mutex> lock(m_state->pairLock);
    m_state->scale = ColourScale{kScalingManual, upper, lower};
    m_state->centre = centre;
}

int CFramePipeline::GetScalingMode() const {
    std::lock_guard<std::mutex> lock(m_state->pairLock);
    return m_state->scale.mode;
}

void CFramePipeline::GetManualScaling(float& upper, float& lower, float& centre) const {
    std::lock_guard<std::mutex> lock(m_state->pairLock);
    upper = m_state->scale.upper;
    lower = m_state->scale.lower;
    centre = m_state->centre;
}

void CFramePipeline::SetStackSizes(int frame, int offset, int thermal) {
    std::lock_guard<std::mutex> lock(m_state->stackLock);
    m_state->stacks.Resize(frame, offset, thermal);
}

void CFramePipeline::StartRun() {
    // Emptied now too, so that the buffer status reads empty before the run's first frame.
    std::lock_guard<std::mutex> lock(m_state->stackLock);
    m_state->stacksRun = ++m_state->run;
    m_state->stacks.Clear();
}

void CFramePipeline::GetStackSizes(int& frame, int& offset, int& thermal) const {
    std::lock_guard<std::mutex> lock(m_state->stackLock);
    m_state->stacks.GetSizes(frame, offset, thermal);
}

void CFramePipeline::GetStackCounts(int& frame, int& offset, int& thermal) const {
    std::lock_guard<std::mutex> lock(m_state->stackLock);
    m_state->stacks.GetCounts(frame, offset, thermal);
}

void CFramePipeline::GetMinMaxText(std::string& minimum, std::string& maximum) const {
    std::lock_guard<std::mutex> lock(m_state->resultLock);
    minimum = m_state->minText;
    maximum = m_state->maxText;
}

uint16_t CFramePipeline::GetVddCode() const {
    std::lock_guard<std::mutex> lock(m_state->resultLock);
    return VddCodeFromHeader(m_state->header);
}

uint16_t CFramePipeline::GetAmbientCode() const {
    std::lock_guard<std::mutex> lock(m_state->resultLock);
    return AmbientCodeFromHeader(m_state->header);
}

void CFramePipeline::SetPixelRange(int first, int count) {
    std::lock_guard<std::mutex> lock(m_state->pairLock);
    m_state->firstPixel = first;
    m_state->pixelCount = count;
}

void CFramePipeline::GetPixelRange(int& first, int& count) const {
    std::lock_guard<std::mutex> lock(m_state->pairLock);
    first = m_state->firstPixel;
    count = m_state->pixelCount;
}
