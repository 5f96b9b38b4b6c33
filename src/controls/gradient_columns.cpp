#include "controls/gradient_columns.h"

#include <algorithm>

namespace {

enum Ramp { kFixed, kRise, kFall };

struct Rgb {
    int red, green, blue;
};

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kYellow{255, 255, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kCyan{0, 255, 255};
constexpr Rgb kMagenta{255, 0, 255};

// Paints segments one after another. Each segment starts on the last column the previous one
// painted, so neighbouring ramps meet without a gap.
class SegmentPainter {
  public:
    explicit SegmentPainter(std::vector<GradientColumn>& out) : m_out(out) {}

    // Column where the next segment starts.
    int Start() const { return std::max(m_lastPainted, 0); }

    void Paint(Rgb from, Ramp red, Ramp green, Ramp blue, float step, int bound) {
        float rising = 0.0f;
        float falling = 255.0f;
        for (int x = Start(); x < bound; ++x) {
            rising += step;
            falling -= step;
            const int up = Channel(rising);
            const int down = Channel(falling);
            const auto pick = [&](Ramp ramp, int fixed) {
                return ramp == kRise ? up : ramp == kFall ? down : fixed;
            };
            const uint32_t color = static_cast<uint32_t>(pick(red, from.red)) |
                                   static_cast<uint32_t>(pick(green, from.green)) << 8 |
                                   static_cast<uint32_t>(pick(blue, from.blue)) << 16;
            m_out.push_back({x, color});
            m_lastPainted = x;
        }
    }

  private:
    // Rounds half up and keeps the value a channel.
    static int Channel(float accumulator) {
        const double value = static_cast<double>(accumulator) + 0.5;
        if (value >= 255.0) {
            return 255;
        }
        if (value <= 0.0) {
            return 0;
        }
        return static_cast<int>(value);
    }

    std::vector<GradientColumn>& m_out;
    int m_lastPainted = -1;
};

// A bar narrower than its number of parts has parts of no width; a full step then takes the
// channel straight to its end value.
float StepFor(int part) {
    return part > 0 ? static_cast<float>(255.0 / part) : 255.0f;
}

}  // namespace

std::vector<GradientColumn> GradientColumns(int width, int palette) {
    std::vector<GradientColumn> columns;
    if (width <= 0) {
        return columns;
    }
    SegmentPainter p(columns);
    const int W = width;
    switch (palette) {
        case 1: {
            const int w = W / 4;
            const float step = StepFor(w);
            p.Paint(kBlack, kFixed, kFixed, kRise, step, w - 1);
            p.Paint(kBlue, kRise, kFixed, kFall, step, 2 * w - 1);
            p.Paint(kRed, kFixed, kRise, kFixed, step, 3 * w - 1);
            p.Paint(kYellow, kFixed, kFixed, kRise, step, W - 1);
            break;
        }
        case 2: {
            // Half a part of black to blue, three parts, and the rest from yellow to white.
            const int w = W / 4;
            const int h = w / 2;
            const float step = StepFor(w);
            const float halfStep = StepFor(h);
            p.Paint(kBlack, kFixed, kFixed, kRise, halfStep, h - 1);
            p.Paint(kBlue, kRise, kFixed, kFixed, step, p.Start() + w - 1);
            p.Paint(kMagenta, kFixed, kFixed, kFall, step, p.Start() + w - 1);
            p.Paint(kRed, kFixed, kRise, kFixed, step, p.Start() + w - 1);
            p.Paint(kYellow, kFixed, kFixed, kRise, halfStep, W - 1);
            break;
        }
        case 3:
            p.Paint(kBlack, kRise, kRise, kRise, StepFor(W), W - 1);
            break;
        case 4: {
            const int w = W / 2;
            const float step = StepFor(w);
            p.Paint(kBlue, kRise, kFixed, kFall, step, w - 1);
            p.Paint(kRed, kFixed, kRise, kFixed, step, W - 1);
            break;
        }
        case 5: {
            const int w = W / 4;
            const float step = StepFor(w);
            p.Paint(kGreen, kRise, kFixed, kFixed, step, w - 1);
            p.Paint(kYellow, kFixed, kFall, kFixed, step, 2 * w - 1);
            p.Paint(kRed, kFixed, kFixed, kRise, step, 3 * w - 1);
            p.Paint(kMagenta, kFixed, kRise, kFixed, step, W - 1);
            break;
        }
        case 6: {
            const int w = W / 4;
            const float step = StepFor(w);
            p.Paint(kMagenta, kFall, kFixed, kFixed, step, w - 1);
            p.Paint(kBlue, kFixed, kRise, kFall, step, 2 * w - 1);
            p.Paint(kGreen, kRise, kFixed, kFixed, step, 3 * w - 1);
            p.Paint(kYellow, kFixed, kFall, kFixed, step, W - 1);
            break;
        }
        case 7: {
            // Ends at five whole parts: up to five rightmost columns stay unpainted.
            const int w = W / 5;
            const float step = StepFor(w);
            p.Paint(kMagenta, kFall, kFixed, kFixed, step, w - 1);
            p.Paint(kBlue, kFixed, kRise, kFixed, step, 2 * w - 1);
            p.Paint(kCyan, kFixed, kFixed, kFall, step, 3 * w - 1);
            p.Paint(kGreen, kRise, kFixed, kFixed, step, 4 * w - 1);
            p.Paint(kYellow, kFixed, kFall, kFixed, step, 5 * w - 1);
            break;
        }
        case 8: {
            const int w = W / 7;
            const float step = StepFor(w);
            p.Paint(kBlack, kFixed, kFixed, kRise, step, w - 1);
            p.Paint(kBlue, kFixed, kRise, kFixed, step, 2 * w - 1);
            p.Paint(kCyan, kFixed, kFixed, kFall, step, 3 * w - 1);
            p.Paint(kGreen, kRise, kFixed, kFixed, step, 4 * w - 1);
            p.Paint(kYellow, kFixed, kFall, kFixed, step, 5 * w - 1);
            p.Paint(kRed, kFixed, kFixed, kRise, step, 6 * w - 1);
            p.Paint(kMagenta, kFixed, kRise, kFixed, step, W - 1);
            break;
        }
        default:
            break;
    }
    return columns;
}
