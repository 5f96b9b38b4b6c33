#pragma once
// CFramePipeline: turns frame blocks into values, display image and text on its own processing
// thread. Placeholder until the processing core lands: it stores settings and has no thread.
#include <cstdint>
#include <string>

class CFramePipeline {
public:
    // (owner, mode letter, frame text, raw block or null, 320 x 310 RGB image, 992 values)
    using FrameReadyCallback = void (*)(void* owner, const char* modeLetter,
                                        const std::string& text, const uint8_t* raw,
                                        const uint8_t* image, const uint16_t* values);

    void SetCallback(FrameReadyCallback callback, void* owner) {
        m_callback = callback;
        m_callbackOwner = owner;
    }
    void SelectPalette(int number) { m_palette = number; }
    void SetElOffsetSubtraction(int flag) { m_subtractElOffsets = flag; }
    int IsElOffsetSubtraction() const { return m_subtractElOffsets; }
    void SetStackSizes(int frame, int offset, int thermal) {
        m_stackSizes[0] = frame;
        m_stackSizes[1] = offset;
        m_stackSizes[2] = thermal;
    }
    void SetPixelRange(int first, int count) {
        m_firstPixel = first;
        m_pixelCount = count;
    }
    void SetUnit(int unit) { m_unit = unit; }
    void SetInterpolation(int flag) { m_interpolate = flag; }
    void StopThread() {}

private:
    FrameReadyCallback m_callback = nullptr;
    void* m_callbackOwner = nullptr;
    int m_palette = 4;
    int m_subtractElOffsets = 0;
    int m_stackSizes[3] = {1, 1, 1};
    int m_firstPixel = 1;
    int m_pixelCount = 1056;
    int m_unit = 1;
    int m_interpolate = 0;
};
