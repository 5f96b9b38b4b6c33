// The --frames output of `thermal convert`: each display image as a file of its own,
// frame_000001.bmp (or .png), frame_000002, ... Each picture is written whole as a file without
// a name (or, where the file system has none, under a temporary name) and then given its name,
// so the directory never holds a cut-off picture, nor a temporary when the process is killed.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "convert_png_file.h"
#include "convert_sink.h"
#include "export/atomic_file.h"
#include "export/bitmap_file.h"
#include "processing/image_scaling.h"

namespace fs = std::filesystem;

namespace {

class CImageFilesSink final : public IConvertSink {
  public:
    CImageFilesSink(std::string directory, bool png)
        : m_directory(std::move(directory)), m_isPng(png) {}

    // Removes the directories this sink created when no picture went into them.
    ~CImageFilesSink() override {
        if (m_frameCount != 0) {
            return;
        }
        std::error_code ignored;
        for (const fs::path& created : m_created) {
            fs::remove(created, ignored);  // fails, and keeps it, if anything else is inside
        }
    }

    bool Open(std::string& error) {
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
            error = "cannot create '" + m_directory + "': " + ec.message();
            m_created.clear();
            return false;
        }
        return true;
    }

    bool Write(const ConvertedFrame& frame, std::string& error) override {
        char name[40];
        std::snprintf(name, sizeof name, "frame_%06llu.%s",
                      static_cast<unsigned long long>(m_frameCount + 1), m_isPng ? "png" : "bmp");
        const std::string path = (fs::path(m_directory) / name).string();
        // A picture replaces an earlier one of its name, but never a device node, a directory
        // or a link that happens to carry it.
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
            error = "cannot write '" + path + "': it is not a regular file";
            return false;
        }
        if (m_isPng) {
            if (!SavePngFile(frame.image, kImageWidth, kImageHeight, path, error)) {
                return false;
            }
        } else {
            EncodeBitmapFileInto(frame.image, kImageWidth, kImageHeight, true, 0, 0, m_bitmap);
            if (m_bitmap.empty() || !WriteFileAtomically(path, m_bitmap.data(), m_bitmap.size())) {
                error = "cannot write '" + path + "'";
                return false;
            }
        }
        ++m_frameCount;
        return true;
    }

    bool Finish(std::string&) override { return true; }

  private:
    std::string m_directory;
    bool m_isPng;
    std::vector<fs::path> m_created;
    std::vector<uint8_t> m_bitmap;  // the file being written, its memory kept from frame to frame
    uint64_t m_frameCount = 0;
};

}  // namespace

std::unique_ptr<IConvertSink> CreateImageFilesSink(const std::string& directory, bool png,
                                                   std::string& error) {
    auto sink = std::make_unique<CImageFilesSink>(directory, png);
    if (!sink->Open(error)) {
        return nullptr;
    }
    return sink;
}
