#include "platform/win32/win32_platform.h"

#include "core/errors.h"

namespace kalv::platform {

// Scaffolding: replaced by the real backend.
std::unique_ptr<FileHandle> Win32Platform::open_file(const std::string&, OpenMode) { throw Error("open_file: not built"); }
int32_t Win32Platform::file_age(const std::string&) { throw Error("file_age: not built"); }
std::optional<int64_t> Win32Platform::modification_stamp(const std::string&) { throw Error("modification_stamp: not built"); }
bool Win32Platform::directory_exists(const std::string&) { throw Error("directory_exists: not built"); }
bool Win32Platform::create_directories(const std::string&) { throw Error("create_directories: not built"); }
bool Win32Platform::delete_file(const std::string&) { throw Error("delete_file: not built"); }
bool Win32Platform::move_file(const std::string&, const std::string&) { throw Error("move_file: not built"); }
bool Win32Platform::copy_file(const std::string&, const std::string&, bool) { throw Error("copy_file: not built"); }
bool Win32Platform::set_file_dos_time(const std::string&, uint32_t) { throw Error("set_file_dos_time: not built"); }
bool Win32Platform::set_file_attributes(const std::string&, uint32_t, uint16_t) { throw Error("set_file_attributes: not built"); }
std::string Win32Platform::oem_to_ansi(const std::string&) { throw Error("oem_to_ansi: not built"); }
bool Win32Platform::is_removable_drive(const std::string&) { throw Error("is_removable_drive: not built"); }
std::string Win32Platform::volume_label(const std::string&) { throw Error("volume_label: not built"); }

}  // namespace kalv::platform
