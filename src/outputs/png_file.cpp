#include "outputs/png_file.h"

#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "export/atomic_file.h"

Status SavePngFile(const uint8_t* image, int width, int height, const std::string& path) {
    // Unnamed until complete: a process killed while writing leaves nothing behind.
    CPendingFile file;
    std::FILE* stream = file.Create(path) ? std::fopen(file.Path().c_str(), "wb") : nullptr;
    if (stream == nullptr) {
        return Status::Failure("cannot create '" + path + "': " + std::strerror(errno), errno);
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = PNG_FORMAT_RGB;
#ifdef PNG_IMAGE_FLAG_FAST
    // Thousands of frames: speed matters more than the last few per cent of size.
    png.flags = PNG_IMAGE_FLAG_FAST;
#endif
    const bool encoded = png_image_write_to_stdio(&png, stream, 0, image, width * 3, nullptr) != 0;
    const int writeError = errno;
    const bool closed = std::fclose(stream) == 0;
    if (!encoded || !closed) {
        const std::string why = encoded                  ? std::strerror(errno)
                                : png.message[0] != '\0' ? png.message
                                                         : std::strerror(writeError);
        png_image_free(&png);
        return Status::Failure("cannot write '" + path + "': " + why);
    }
    if (!file.Publish(path)) {
        return Status::Failure("cannot write '" + path + "': " + std::strerror(errno), errno);
    }
    return {};
}
