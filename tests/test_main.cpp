// Shared entry of every test executable: an offscreen application (image
// plugins and painters need one) around the GoogleTest run, with the imaging
// core set up as the program sets it up. The X11 tests get an X server of
// their own instead of the offscreen platform. Started as a helper process
// (helperprocess.h), it runs that helper instead.
#include "graphics/imagingcore.h"
#include "helperprocess.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMap>

#include <cstdio>
#include <cstdlib>
#include <memory>

#ifdef CORVANITH_TEST_X11
#include "x11/xvfb.h"
#endif

#ifdef CORVANITH_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif

namespace {

class ImagingCoreEnvironment : public testing::Environment {
public:
    void SetUp() override { Corvanith::Graphics::InitializeImagingCore(); }
    void TearDown() override { Corvanith::Graphics::FinalizeImagingCore(); }
};

QMap<QString, THelperProcess>& HelperProcesses()
{
    static QMap<QString, THelperProcess> helpers;
    return helpers;
}

int RunHelperProcess(const QString& Name)
{
    const auto helper = HelperProcesses().constFind(Name);
    if (helper == HelperProcesses().constEnd()) {
        std::fprintf(stderr, "No helper process named %s\n", qPrintable(Name));
        return 2;
    }
    const Corvanith::Graphics::TCorvImagingCore imagingCore;
    return (*helper)(QCoreApplication::arguments().mid(1));
}

} // namespace

bool RegisterHelperProcess(const QString& Name, THelperProcess Helper)
{
    HelperProcesses().insert(Name, std::move(Helper));
    return true;
}

int main(int argc, char** argv)
{
    const char* helper = std::getenv(HelperProcessVariable);
    if (helper == nullptr)
        testing::InitGoogleTest(&argc, argv);
#ifdef CORVANITH_TEST_X11
    // An X server of the run's own, on Qt's xcb platform; listing the tests
    // needs none, and a helper works on the display of the test that started it.
    std::unique_ptr<TXvfb> server;
    if (helper == nullptr && !testing::GTEST_FLAG(list_tests)) {
        server = std::make_unique<TXvfb>();
        if (server->Display().empty()) {
            std::fprintf(stderr, "Xvfb did not start\n");
            return 1;
        }
        setenv("DISPLAY", server->Display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        // The tests draw nothing through OpenGL and talk to no session bus:
        // loaded, the platform's GL integration and D-Bus keep allocations
        // to the end of the process that the leak checker would report.
        setenv("QT_XCB_GL_INTEGRATION", "none", 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    }
#endif
    // Test discovery runs the binaries at build time, where no display exists.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The application ends before the server does.
    TestApplication app(argc, argv);
    if (helper != nullptr)
        return RunHelperProcess(QString::fromLocal8Bit(helper));
    testing::AddGlobalTestEnvironment(new ImagingCoreEnvironment);
    return RUN_ALL_TESTS();
}
