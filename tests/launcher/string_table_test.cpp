// The program's string table as each build carries it, against the one list both
// are made from: on Windows the resource inside the built Kalv3.exe (read back with
// LoadStringA, under Wine), which the resource compiler reads by its own rules; on
// POSIX the platform's table. Every identifier of the range is asked, so a text
// missing, added or changed on the way fails. The texts themselves are pinned where
// the user meets them (the startup transcripts, the splash window's tests).
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/platform.h"
#endif

namespace {

const struct {
    unsigned id;
    const char* text;
} kStringTable[] = {
#define KALV_STRING(number, name, text) {number, text},
#include "resources/string_table.def"
#undef KALV_STRING
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

TEST(StringTable, HoldsExactlyTheListedTexts) {
    ProductTable table;
    ASSERT_TRUE(table.loaded());
    for (unsigned id = kFirstId - 1; id <= kLastId + 1; ++id) {
        std::string expected;  // an identifier not listed gives an empty text
        for (const auto& entry : kStringTable)
            if (entry.id == id) expected = entry.text;
        EXPECT_EQ(table.text(id), expected) << "string " << id;
    }
}

}  // namespace
