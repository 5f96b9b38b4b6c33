#include "convert_csv_file.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kWriteBufferBytes = 1 << 20;

}  // namespace

CConvertCsvFile::CConvertCsvFile(const std::string& path, const struct stat& input)
    : m_file(path, input) {}

CConvertCsvFile::~CConvertCsvFile() {
    if (m_stream != nullptr) {
        std::fclose(m_stream);
    }
}

bool CConvertCsvFile::Open(std::string& error) {
    if (!m_file.CreateTemporary(error)) {
        return false;
    }
    m_stream = std::fopen(m_file.TemporaryPath().c_str(), "wb");
    if (m_stream == nullptr) {
        error = "cannot create '" + m_file.FinalPath() + "': " + std::strerror(errno);
        return false;
    }
    std::setvbuf(m_stream, nullptr, _IOFBF, kWriteBufferBytes);
    return true;
}

bool CConvertCsvFile::Append(std::string_view bytes, std::string& error) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), m_stream) != bytes.size()) {
        error = WriteError();
        return false;
    }
    return true;
}

bool CConvertCsvFile::Finish(std::string& error) {
    std::FILE* stream = m_stream;
    m_stream = nullptr;
    // fclose() writes the rest of the buffer and reports what the disk refused.
    if (std::fclose(stream) != 0) {
        error = WriteError();
        return false;
    }
    return m_file.Commit(error);
}

std::string CConvertCsvFile::WriteError() const {
    return "cannot write '" + m_file.FinalPath() + "': " + std::strerror(errno);
}

std::string CommentSafe(const std::string& name) {
    std::string out;
    std::size_t i = 0;
    while (i < name.size()) {
        const auto c = static_cast<unsigned char>(name[i]);
        std::size_t length = c < 0x80           ? 1
                             : (c >> 5) == 0x6  ? 2
                             : (c >> 4) == 0xE  ? 3
                             : (c >> 3) == 0x1E ? 4
                                                : 0;
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= name.size() || (static_cast<unsigned char>(name[i + k]) >> 6) != 0x2) {
                length = 0;
            }
        }
        if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7F))) {
            out += '?';
            ++i;
        } else {
            out.append(name, i, length);
            i += length;
        }
    }
    return out;
}
