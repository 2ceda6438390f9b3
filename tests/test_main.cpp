// Shared entry of every test executable: an offscreen application (image
// plugins and painters need one) around the GoogleTest run, with the imaging
// core set up as the program sets it up.
#include "graphics/imagingcore.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

} // namespace

int main(int argc, char** argv)
{
    // Test discovery runs the binaries at build time, where no display exists.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    testing::AddGlobalTestEnvironment(new ImagingCoreEnvironment);
    return RUN_ALL_TESTS();
}
