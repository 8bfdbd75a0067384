// One QApplication for kp_config's tests: offscreen unless the caller chose a platform, and, as
// root, the browser engine without its sandbox (test discovery runs without the tests'
// environment).

#include <QApplication>

#include <gtest/gtest.h>

#include <unistd.h>

// Under AddressSanitizer, the browser engine's own code makes a sized delete of the wrong size
// and keeps objects (and the system's font cache) to the end of the process by design, all
// inside libraries that are not instrumented. Both are set aside for this program alone; the rest
// is still reported. (Without the sanitizer these functions are never called.)
extern "C" const char* __asan_default_options() {
    return "new_delete_type_mismatch=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt6WebEngineCore.so\n"
           "leak:libfontconfig.so\n"; // the font cache the engine's fonts are read into
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
