// The frame pipeline's synchronous entry points, as text play-back and `thermal convert` use
// them (ProcessTextFrame) and as binary play-back does (ProcessFrameNow), under settings taken
// from the input: palette, mirroring, unit, interpolation, offset subtraction, stack sizes and
// automatic or manual colour scale with any bounds, NaN and infinities included. A text frame is
// processed exactly when it parses, and the text the pipeline delivers parses back to the values
// it delivers (one below where the unit's text is rounded).
// Input: the settings from its end; then either a text frame or frame blocks.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "frame/conversion.h"
#include "frame/text_frame.h"
#include "fuzz_support.h"
#include "processing/frame_pipeline.h"

namespace {

struct Delivered {
    int calls = 0;
    char modeLetter = 0;
    std::string text;
    std::vector<uint16_t> values;
};

void OnFrameReady(void* owner, const char* modeLetter, const std::string& text, const uint8_t*,
                  const uint8_t* image, const uint16_t* values) {
    FUZZ_CHECK(image != nullptr && values != nullptr);
    auto* delivered = static_cast<Delivered*>(owner);
    ++delivered->calls;
    delivered->modeLetter = *modeLetter;
    delivered->text = text;
    delivered->values.assign(values, values + kPixelCount);
}

constexpr char kFileModes[] = {'K', 'C', 'F', 'V'};
constexpr char kFrameLetters[] = {'K', 'k', 't', 'c', 'C'};

char FileModeOfUnit(int unit) {
    return unit == kUnitKelvin ? 'K' : unit == kUnitCelsius ? 'C' : 'F';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // One pipeline for the whole run: its construction starts the processing thread.
    static CFramePipeline pipeline;
    Delivered delivered;
    pipeline.SetCallback(OnFrameReady, &delivered);

    FuzzedDataProvider provider(data, size);
    pipeline.SelectPalette(provider.ConsumeIntegralInRange<int>(1, 8));
    pipeline.SetMirrorMode(provider.ConsumeIntegralInRange<int>(0, 3));
    const int unit = provider.ConsumeIntegralInRange<int>(1, 3);
    pipeline.SetUnit(unit);
    pipeline.SetInterpolation(provider.ConsumeBool() ? 1 : 0);
    pipeline.SetElOffsetSubtraction(provider.ConsumeBool() ? 1 : 0);
    if (provider.ConsumeBool()) {
        float bounds[2];
        const std::vector<uint8_t> raw = provider.ConsumeBytes<uint8_t>(sizeof bounds);
        std::memset(bounds, 0, sizeof bounds);
        if (!raw.empty()) {
            std::memcpy(bounds, raw.data(), raw.size());
        }
        pipeline.SetManualScaling(bounds[0], bounds[1], 0.0f);
    } else {
        pipeline.SetAutoScaling();
    }
    const bool text = provider.ConsumeBool();
    const int offsetsSubtracted = provider.ConsumeBool() ? 1 : 0;
    const char fileMode = provider.PickValueInArray(kFileModes);
    const char frameLetter = provider.PickValueInArray(kFrameLetters);
    // Changing a size empties its stack, so every input starts from empty stacks.
    pipeline.SetStackSizes(1, 1, 1);
    pipeline.SetStackSizes(provider.ConsumeIntegralInRange<int>(2, 4),
                           provider.ConsumeIntegralInRange<int>(2, 4),
                           provider.ConsumeIntegralInRange<int>(2, 4));
    const std::vector<uint8_t> rest = provider.ConsumeRemainingBytes<uint8_t>();

    if (!text) {
        for (std::size_t at = 0; at + kFrameBlockSize <= rest.size() && at < 4 * kFrameBlockSize;
             at += kFrameBlockSize) {
            FUZZ_CHECK(pipeline.ProcessFrameNow(frameLetter, kFrameBlockSize, rest.data() + at) ==
                       1);
        }
        FUZZ_CHECK(pipeline.ProcessFrameNow(frameLetter, static_cast<int>(rest.size() % 2112),
                                            rest.data()) == 0);
        return 0;
    }

    const std::string_view frameText(reinterpret_cast<const char*>(rest.data()), rest.size());
    const bool parses = ParseTextFrame(frameText, fileMode).has_value();
    FUZZ_CHECK(pipeline.ProcessTextFrame(offsetsSubtracted, fileMode, frameText) ==
               (parses ? 1 : 0));
    FUZZ_CHECK(delivered.calls == (parses ? 1 : 0));
    if (parses) {
        FUZZ_CHECK(delivered.modeLetter == (fileMode == 'V' ? 't' : 'k'));
        // Temperatures are delivered in the pipeline's unit and read back as the value, or one
        // below where the unit's text is rounded (Celsius, Fahrenheit).
        if (fileMode != 'V') {
            const std::optional<FrameData> back =
                ParseTextFrame(delivered.text, FileModeOfUnit(unit));
            FUZZ_CHECK(back.has_value());
            for (int i = 0; i < kPixelCount; ++i) {
                const uint16_t read = back->values[i];
                const uint16_t value = delivered.values[static_cast<std::size_t>(i)];
                FUZZ_CHECK(read == value || (unit != kUnitKelvin && read + 1 == value));
            }
        }
    }
    return 0;
}
