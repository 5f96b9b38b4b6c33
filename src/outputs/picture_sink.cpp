// Pictures (`thermal convert --frames DIR`): each display image as a file of its own,
// frame_000001.bmp (or .png), frame_000002, ... Each picture is written whole as a file without
// a name (or, where the file system has none, under a temporary name) and then given its name,
// so the directory never holds a cut-off picture, nor a temporary when the process is killed.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "export/atomic_file.h"
#include "export/bitmap_file.h"
#include "outputs/file_sinks.h"
#include "outputs/png_file.h"
#include "processing/image_scaling.h"

namespace fs = std::filesystem;

namespace {

class CPictureSink final : public IFrameSink {
  public:
    CPictureSink(std::string directory, bool png)
        : m_directory(std::move(directory)), m_isPng(png) {}

    // Removes the directories this sink created when no picture went into them.
    ~CPictureSink() override {
        if (m_frameCount != 0) {
            return;
        }
        std::error_code ignored;
        for (const fs::path& created : m_created) {
            fs::remove(created, ignored);  // fails, and keeps it, if anything else is inside
        }
    }

    std::string Name() const override { return "'" + m_directory + "'"; }
    unsigned Needs() const override { return kNeedsImage; }

    Status Begin() override {
        std::error_code ec;
        for (fs::path missing = m_directory; !missing.empty() && !fs::exists(missing, ec);
             missing = missing.parent_path()) {
            m_created.push_back(missing);  // deepest first
            if (missing == missing.parent_path()) {
                break;
            }
        }
        fs::create_directories(m_directory, ec);
        if (ec) {
            m_created.clear();
            return Status::Failure("cannot create '" + m_directory + "': " + ec.message(),
                                   ec.value());
        }
        return {};
    }

    Status Write(const ProcessedFrame& frame) override {
        char name[40];
        std::snprintf(name, sizeof name, "frame_%06llu.%s",
                      static_cast<unsigned long long>(m_frameCount + 1), m_isPng ? "png" : "bmp");
        const std::string path = (fs::path(m_directory) / name).string();
        // A picture replaces an earlier one of its name, but never a device node, a directory
        // or a link that happens to carry it.
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
            return Status::Failure("cannot write '" + path + "': it is not a regular file");
        }
        if (m_isPng) {
            if (Status saved = SavePngFile(frame.image, kImageWidth, kImageHeight, path); !saved) {
                return saved;
            }
        } else {
            EncodeBitmapFileInto(frame.image, kImageWidth, kImageHeight, true, 0, 0, m_bitmap);
            if (m_bitmap.empty() || !WriteFileAtomically(path, m_bitmap.data(), m_bitmap.size())) {
                return Status::Failure("cannot write '" + path + "'");
            }
        }
        ++m_frameCount;
        CountWritten();
        return {};
    }

    Status Finish() override { return {}; }

  private:
    std::string m_directory;
    bool m_isPng;
    std::vector<fs::path> m_created;
    std::vector<uint8_t> m_bitmap;  // the file being written, its memory kept from frame to frame
    uint64_t m_frameCount = 0;
};

}  // namespace

std::unique_ptr<IFrameSink> MakePictureSink(const std::string& directory, bool png) {
    return std::make_unique<CPictureSink>(directory, png);
}
