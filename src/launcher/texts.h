// The launcher's fixed names and the identifiers of its texts in the program's string
// table (the texts themselves are in resources/string_table.def).
#pragma once

namespace kalv::launcher {

// String table identifiers, named beside their texts in the one list of them.
enum TextId : unsigned {
#define KALV_STRING(id, name, text) name = id,
#include "resources/string_table.def"
#undef KALV_STRING
};

// The installation layout: each name is joined to LauncherDir by plain concatenation.
inline constexpr const char* kNetInfName = "NET.INF";
inline constexpr const char* kProgramPackageName = "Kalvo3pack";
inline constexpr const char* kDatabasePackageName = "Volka.bpl";
inline constexpr const char* kProgramEntryName = "Kalvo3main";
inline constexpr const char* kDatabaseEntryName = "KALVO3.IB";
// Platforms outside the NT family start programs only by this extension.
inline constexpr const char* kProgramExtension = ".exe";

// The password of both packages, kept as single characters rather than as one text.
// The launcher opens the packages with it; kalvtool pack and publish make them with it.
inline constexpr char kPackagePasswordChars[13] = {'k', '3', 'm', '8', '_', 'q', '7', 'r', 'w', '_', '2', 'x', '4'};
inline constexpr int kPackagePasswordHighIndex = 12;

// The running application holds a mutex of this name.
inline constexpr const char* kApplicationMutexName = "KalvMutexName";

// The carriage return that the boxes put between a lead text and what it names.
inline constexpr char kBoxLineBreak = '\r';

}  // namespace kalv::launcher
