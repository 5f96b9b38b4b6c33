#include "recording/xvid_avi_sink.h"

#include "processing/image_scaling.h"
#include "recording/avi_writer.h"
#include "recording/lib_xvid_encoder.h"

namespace {

constexpr int kVideoFrameRate = 20;

class CXvidAviSink final : public IVideoSink {
  public:
    CXvidAviSink(const std::string& path, RecordingFileCreation creation)
        : m_writer(path, "xvid", kImageWidth, kImageHeight, kVideoFrameRate, kAviMaxFileBytes,
                   creation) {}

    bool SetUp() {
        return m_encoder.InitLibrary() == 1 &&
               m_encoder.CreateEncoder(kImageWidth, kImageHeight, kXvidColourSpaceBgr) == 1;
    }

    int EncodeFrame(const uint8_t* image, uint8_t* out, int* outLength, int* isKeyFrame) override {
        return m_encoder.EncodeFrame(image, out, outLength, isKeyFrame);
    }

    int32_t AppendFrame(int byteCount, int isKeyFrame, const uint8_t* bytes) override {
        return m_writer.AppendFrame(byteCount, isKeyFrame, bytes);
    }
    std::string FailureReason() const override { return m_writer.ErrorDetail(); }

  private:
    // Declared first, destroyed last: the writer completes the file before the encoder goes.
    CLib_XvidEncoder m_encoder;
    CAviWriter m_writer;
};

}  // namespace

std::unique_ptr<IVideoSink> CreateXvidAviSink(const std::string& path,
                                              RecordingFileCreation creation) {
    auto sink = std::make_unique<CXvidAviSink>(path, creation);
    if (!sink->SetUp()) {
        return nullptr;
    }
    return sink;
}
