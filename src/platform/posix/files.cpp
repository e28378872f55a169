#include "platform/posix/posix_platform.h"

#include "core/errors.h"

namespace kalv::platform {

// Scaffolding: replaced by the real backend.
std::unique_ptr<FileHandle> PosixPlatform::open_file(const std::string&, OpenMode) { throw Error("open_file: not built"); }
int32_t PosixPlatform::file_age(const std::string&) { throw Error("file_age: not built"); }
std::optional<int64_t> PosixPlatform::modification_stamp(const std::string&) { throw Error("modification_stamp: not built"); }
bool PosixPlatform::directory_exists(const std::string&) { throw Error("directory_exists: not built"); }
bool PosixPlatform::create_directories(const std::string&) { throw Error("create_directories: not built"); }
bool PosixPlatform::delete_file(const std::string&) { throw Error("delete_file: not built"); }
bool PosixPlatform::move_file(const std::string&, const std::string&) { throw Error("move_file: not built"); }
bool PosixPlatform::copy_file(const std::string&, const std::string&, bool) { throw Error("copy_file: not built"); }
bool PosixPlatform::set_file_dos_time(const std::string&, uint32_t) { throw Error("set_file_dos_time: not built"); }
bool PosixPlatform::set_file_attributes(const std::string&, uint32_t, uint16_t) { throw Error("set_file_attributes: not built"); }
std::string PosixPlatform::oem_to_ansi(const std::string&) { throw Error("oem_to_ansi: not built"); }
bool PosixPlatform::is_removable_drive(const std::string&) { throw Error("is_removable_drive: not built"); }
std::string PosixPlatform::volume_label(const std::string&) { throw Error("volume_label: not built"); }

}  // namespace kalv::platform
