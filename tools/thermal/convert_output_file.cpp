#include "convert_output_file.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "export/atomic_file.h"

namespace {

// The temporaries the signal handler removes when a second signal ends the process at once.
// A slot's path is written only while its flag is clear, so the handler never reads a path
// being written.
constexpr int kSlotCount = 4;
char g_temporaryPaths[kSlotCount][PATH_MAX];
volatile sig_atomic_t g_slotInUse[kSlotCount];
volatile sig_atomic_t g_stopSignal = 0;

extern "C" void OnStopSignal(int signalNumber) {
    if (g_stopSignal != 0) {
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (g_slotInUse[slot]) {
                ::unlink(g_temporaryPaths[slot]);
            }
        }
        ::_exit(128 + signalNumber);
    }
    g_stopSignal = signalNumber;
}

int RegisterTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!g_slotInUse[slot]) {
            std::memcpy(g_temporaryPaths[slot], path.c_str(), path.size() + 1);
            std::atomic_signal_fence(std::memory_order_seq_cst);
            g_slotInUse[slot] = 1;
            return slot;
        }
    }
    return -1;
}

bool SameFile(const struct stat& a, dev_t device, ino_t inode) {
    return a.st_dev == device && a.st_ino == inode;
}

// Empty when `path` may be replaced: missing, or a regular file that is not the input.
std::string CheckReplaceable(const std::string& path, dev_t inputDevice, ino_t inputInode) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return {};
        }
        return "cannot check '" + path + "': " + std::strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return "cannot write '" + path + "': it is a directory";
    }
    if (!S_ISREG(info.st_mode)) {
        return "cannot write '" + path + "': it is not a regular file";
    }
    if (SameFile(info, inputDevice, inputInode)) {
        return "cannot write '" + path + "': it is the input";
    }
    return {};
}

}  // namespace

void InstallConvertSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

int PendingStopSignal() {
    return g_stopSignal;
}

std::string ResolveOutputPath(const std::string& path, const struct stat& input,
                              std::string& error) {
    std::string target = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        // Writing through the link keeps it pointing at the new file.
        std::error_code ec;
        const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
        if (ec) {
            error = "cannot follow the link '" + path + "': " + ec.message();
            return {};
        }
        target = resolved.string();
    }
    error = CheckReplaceable(target, input.st_dev, input.st_ino);
    return error.empty() ? target : std::string();
}

CConvertOutputFile::CConvertOutputFile(std::string finalPath, const struct stat& input)
    : m_finalPath(std::move(finalPath)), m_inputDevice(input.st_dev), m_inputInode(input.st_ino) {}

CConvertOutputFile::~CConvertOutputFile() {
    if (!m_isDone) {
        Discard();
    }
    if (m_slot >= 0) {
        g_slotInUse[m_slot] = 0;
    }
}

bool CConvertOutputFile::CreateTemporary(std::string& error) {
    const int fd = CreateTemporaryFor(m_finalPath, m_temporaryPath);
    if (fd < 0) {
        error =
            "cannot create a temporary file beside '" + m_finalPath + "': " + std::strerror(errno);
        m_temporaryPath.clear();
        return false;
    }
    ::close(fd);
    m_slot = RegisterTemporary(m_temporaryPath);
    return true;
}

bool CConvertOutputFile::Commit(std::string& error) {
    error = CheckReplaceable(m_finalPath, m_inputDevice, m_inputInode);
    if (error.empty() && std::rename(m_temporaryPath.c_str(), m_finalPath.c_str()) != 0) {
        error = "cannot rename '" + m_temporaryPath + "' to '" + m_finalPath +
                "': " + std::strerror(errno);
    }
    if (!error.empty()) {
        Discard();
        return false;
    }
    m_isDone = true;
    return true;
}

void CConvertOutputFile::Discard() {
    if (!m_temporaryPath.empty()) {
        ::unlink(m_temporaryPath.c_str());
    }
    m_isDone = true;
}

std::string CConvertOutputFile::InFinalTerms(std::string text) const {
    if (m_temporaryPath.empty()) {
        return text;
    }
    for (std::size_t at = text.find(m_temporaryPath); at != std::string::npos;
         at = text.find(m_temporaryPath, at + m_finalPath.size())) {
        text.replace(at, m_temporaryPath.size(), m_finalPath);
    }
    return text;
}
