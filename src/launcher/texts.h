// The launcher's fixed names and the identifiers of its texts in the program's string
// table (the table itself is part of the program's resources).
#pragma once

namespace kalv::launcher {

// String table identifiers.
enum TextId : unsigned {
    kTextCaption = 65313,          // "Kalvo..."
    kTextFileNotFound = 65319,     // "File not found :"
    kTextLoading = 65320,          // "Loading..."
    kTextChecking = 65321,         // "Checking..."
    kTextStarting = 65322,         // "Starting..."
    kTextSetuping = 65324,         // " ( Setuping... )"
    kTextFileProcessing = 65325,   // "Error in file processing : "
    kTextReady = 65326,            // "Ready !"
    kTextOnlyOneInstance = 65343,  // "Can run only one instance of the program !"
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
