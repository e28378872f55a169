// The program's string table pinned to the launcher's texts, byte for byte: the
// Windows resource as the built Kalv3.exe carries it (read back with LoadStringA),
// and the POSIX build's table as its platform gives it. The expected texts live here
// and nowhere else in the tests, so a changed text in either table fails.
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/platform.h"
#endif

namespace {

// Every text of the table, with its identifier. The blanks are part of the texts.
const struct {
    unsigned id;
    const char* text;
} kStringTable[] = {
    {65313, "Kalvo..."},
    {65318, "Please, wait now ..."},
    {65319, "File not found :"},
    {65320, "Loading..."},
    {65321, "Checking..."},
    {65322, "Starting..."},
    {65324, " ( Setuping... )"},
    {65325, "Error in file processing : "},
    {65326, "Ready !"},
    {65343, "Can run only one instance of the program !"},
};
constexpr unsigned kFirstId = 65313, kLastId = 65343;

#ifdef _WIN32
class ProductTable {
public:
    // The product itself, as data: its resources, none of its code.
    ProductTable() : module_(LoadLibraryExA(KALV3_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~ProductTable() {
        if (module_) FreeLibrary(module_);
    }
    bool loaded() const { return module_ != nullptr; }
    std::string text(unsigned id) const {
        char buffer[1024];
        const int length = LoadStringA(module_, id, buffer, sizeof buffer);
        return std::string(buffer, length > 0 ? size_t(length) : 0);
    }

private:
    HMODULE module_;
};
#else
class ProductTable {
public:
    bool loaded() const { return true; }
    std::string text(unsigned id) const { return kalv::platform::native().load_string(id); }
};
#endif

TEST(StringTable, HoldsExactlyTheLauncherTexts) {
    ProductTable table;
    ASSERT_TRUE(table.loaded());
    for (unsigned id = kFirstId; id <= kLastId; ++id) {
        std::string expected;
        for (const auto& entry : kStringTable)
            if (entry.id == id) expected = entry.text;
        EXPECT_EQ(table.text(id), expected) << "string " << id;
    }
}

}  // namespace
