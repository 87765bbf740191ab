#include "common/FileIdentity.h"

#include <QFile>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace common {

#ifdef _WIN32
// The C library's stat gives every file on a drive the inode 0 there.
std::optional<FileIdentity> fileIdentity(const QString& path) {
    // Opened for no access at all, which no sharing mode of another opener refuses.
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != FALSE;
    CloseHandle(file);
    if (!known) {
        return std::nullopt;
    }
    return FileIdentity(info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow);
}
#else
std::optional<FileIdentity> fileIdentity(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return FileIdentity(info.st_dev, info.st_ino);
}
#endif

} // namespace common
