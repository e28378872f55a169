// Compiled once per library with KALV_SEES_<FOLDER> set to 1 for each folder of src/
// that library may reach (tests/layers/CMakeLists.txt): one header of each folder is
// probed, and any difference from the table stops the build.

#if __has_include("core/errors.h") != KALV_SEES_CORE
#error "core/: reachable differs from the layer table"
#endif
#if __has_include("platform/platform.h") != KALV_SEES_PLATFORM
#error "platform/: reachable differs from the layer table"
#endif
#if __has_include("cipher/text_cipher.h") != KALV_SEES_CIPHER
#error "cipher/: reachable differs from the layer table"
#endif
#if __has_include("unzip/unzipper.h") != KALV_SEES_UNZIP
#error "unzip/: reachable differs from the layer table"
#endif
#if __has_include("signing/package_signature.h") != KALV_SEES_SIGNING
#error "signing/: reachable differs from the layer table"
#endif
#if __has_include("splash/splash_view.h") != KALV_SEES_SPLASH
#error "splash/: reachable differs from the layer table"
#endif
#if __has_include("publish/publish.h") != KALV_SEES_PUBLISH
#error "publish/: reachable differs from the layer table"
#endif
#if __has_include("launcher/launcher.h") != KALV_SEES_LAUNCHER
#error "launcher/: reachable differs from the layer table"
#endif
